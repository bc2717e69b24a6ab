import QtQuick
import QtQuick.Controls
import Telmora

// A borderless button showing one symbol; give it an accessible name.
Button {
    id: control

    property string symbol: ""
    property color tint: Theme.secondaryText
    property int iconSize: 14

    implicitWidth: 26
    implicitHeight: 26
    padding: 0
    hoverEnabled: true
    // Off inside list rows and tiles: the list is one stop of the Tab chain, its keys act on
    // the current row.
    property bool tabStop: true

    focusPolicy: tabStop ? Qt.StrongFocus : Qt.NoFocus
    opacity: enabled ? 1 : 0.5

    // The accessible name doubles as the tooltip: the symbol alone may not say enough. The
    // attached tooltip is one shared popup, drawn in the window's brand palette.
    ToolTip.visible: hovered && Accessible.name !== ""
    ToolTip.text: Accessible.name
    ToolTip.delay: 600

    Keys.onReturnPressed: control.clicked()
    Keys.onEnterPressed: control.clicked()

    contentItem: Item {
        Icon {
            anchors.centerIn: parent
            symbol: control.symbol
            size: control.iconSize
            color: control.hovered || control.down ? Theme.text : control.tint
        }
    }

    background: Rectangle {
        radius: 6
        color: control.down ? Theme.controlFillPressed : (control.hovered ? Theme.hoverFill : "transparent")

        FocusRing {
            baseRadius: parent.radius
            shown: control.visualFocus
        }
    }
}
