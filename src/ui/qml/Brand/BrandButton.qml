pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import Telmora

// The brand's button: Primary (apricot fill), Tonal (tinted) or Pill (small, fully rounded).
Button {
    id: control

    enum Kind { Primary, Tonal, Pill }

    property int kind: BrandButton.Primary
    property string symbol: ""
    readonly property bool isPill: kind === BrandButton.Pill
    readonly property color ink: kind === BrandButton.Primary ? Theme.onApricot : Theme.apricotInk
    readonly property color fill: {
        if (kind === BrandButton.Primary)
            return control.down ? Theme.apricotPressed : (control.hovered ? Theme.apricotHover : Theme.apricot)
        return control.down || control.hovered ? Theme.apricotTintHover : Theme.apricotTint
    }

    font.pixelSize: 13
    font.weight: Font.DemiBold
    leftPadding: isPill ? 14 : 12
    rightPadding: isPill ? 14 : 12
    topPadding: 4
    bottomPadding: 4
    implicitWidth: Math.max(isPill ? 26 : 30, implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(isPill ? 26 : 30, implicitContentHeight + topPadding + bottomPadding)
    opacity: enabled ? 1 : 0.5
    // Pressing shrinks the button a little, unless the desktop asks for less motion.
    scale: control.down && !Desktop.reduceMotion ? 0.97 : 1
    hoverEnabled: true
    // Off inside list rows and tiles: the list is one stop of the Tab chain, its keys act on
    // the current row.
    property bool tabStop: true

    focusPolicy: tabStop ? Qt.StrongFocus : Qt.NoFocus
    Accessible.name: text

    Behavior on scale {
        NumberAnimation { duration: Theme.pressDuration; easing.type: Easing.OutCubic }
    }

    Keys.onReturnPressed: control.clicked()
    Keys.onEnterPressed: control.clicked()

    // Centred, also when the button is wider than its label.
    contentItem: Item {
        implicitWidth: children[0].implicitWidth
        implicitHeight: children[0].implicitHeight

        Row {
            anchors.centerIn: parent
            spacing: 6
            Repeater {
                model: control.symbol !== "" ? 1 : 0
                Icon {
                    anchors.verticalCenter: parent ? parent.verticalCenter : undefined
                    symbol: control.symbol
                    color: control.ink
                    size: 14
                }
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: control.text
                font: control.font
                color: control.ink
                elide: Text.ElideRight
            }
        }
    }

    background: Rectangle {
        implicitHeight: control.isPill ? 26 : 30
        radius: control.isPill ? height / 2 : Theme.controlRadius
        color: control.fill

        Behavior on color {
            enabled: !Desktop.reduceMotion
            ColorAnimation { duration: Theme.pressDuration; easing.type: Easing.OutCubic }
        }

        FocusRing {
            baseRadius: parent.radius
            shown: control.visualFocus
        }
    }
}
