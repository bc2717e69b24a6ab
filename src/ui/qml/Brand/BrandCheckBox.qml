import QtQuick
import QtQuick.Controls
import Telmora

// A check box in the brand's look; the label may be empty (then give it an accessible name).
CheckBox {
    id: control

    spacing: 6
    padding: 2
    hoverEnabled: true
    property bool tabStop: true

    focusPolicy: tabStop ? Qt.StrongFocus : Qt.NoFocus

    indicator: Rectangle {
        x: control.leftPadding
        y: control.topPadding + (control.availableHeight - height) / 2
        implicitWidth: 18
        implicitHeight: 18
        radius: 5
        color: control.checked ? (control.hovered ? Theme.apricotHover : Theme.apricot) : Theme.fieldBackground
        border.width: control.checked ? 0 : 1
        border.color: control.hovered ? Theme.secondaryText : Theme.fieldBorder

        Icon {
            anchors.centerIn: parent
            visible: control.checked
            symbol: "checkmark"
            size: 12
            color: Theme.onApricot
        }
        FocusRing {
            baseRadius: 5
            shown: control.visualFocus
        }
    }

    contentItem: Text {
        leftPadding: control.text !== "" ? control.indicator.width + control.spacing : 0
        text: control.text
        font.pixelSize: 13
        color: Theme.text
        verticalAlignment: Text.AlignVCenter
        visible: control.text !== ""
    }
}
