pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import Telmora

// The standard, quiet button of the interface (neutral fill), in regular or small size.
Button {
    id: control

    property bool small: false
    property bool destructive: false
    property string symbol: ""

    font.pixelSize: small ? 12 : 13
    leftPadding: small ? 10 : 12
    rightPadding: small ? 10 : 12
    topPadding: 3
    bottomPadding: 3
    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: Math.max(small ? 24 : 30, implicitContentHeight + topPadding + bottomPadding)
    opacity: enabled ? 1 : 0.5
    hoverEnabled: true
    // Off inside list rows and tiles: the list is one stop of the Tab chain, its keys act on
    // the current row.
    property bool tabStop: true

    focusPolicy: tabStop ? Qt.StrongFocus : Qt.NoFocus
    Accessible.name: text

    Keys.onReturnPressed: control.clicked()
    Keys.onEnterPressed: control.clicked()

    contentItem: Row {
        spacing: 6
        Repeater {
            model: control.symbol !== "" ? 1 : 0
            Icon {
                anchors.verticalCenter: parent ? parent.verticalCenter : undefined
                symbol: control.symbol
                color: control.destructive ? Theme.danger : Theme.text
                size: 13
            }
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: control.text
            font: control.font
            color: control.destructive ? Theme.danger : Theme.text
            elide: Text.ElideRight
        }
    }

    background: Rectangle {
        radius: Theme.controlRadius
        color: control.down ? Theme.controlFillPressed : (control.hovered ? Theme.controlFillHover : Theme.controlFill)

        FocusRing {
            baseRadius: parent.radius
            shown: control.visualFocus
        }
    }
}
