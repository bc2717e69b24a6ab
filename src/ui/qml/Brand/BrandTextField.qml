import QtQuick
import QtQuick.Controls
import Telmora

// A text field in the brand's look: rounded, with an apricot focus outline.
TextField {
    id: control

    property bool framed: true

    font.pixelSize: 13
    color: Theme.text
    placeholderTextColor: Theme.placeholderText
    selectionColor: Theme.textSelection
    selectedTextColor: Theme.text
    leftPadding: framed ? 10 : 0
    rightPadding: framed ? 10 : 0
    topPadding: 6
    bottomPadding: 6
    implicitHeight: Theme.fieldHeight
    hoverEnabled: true
    opacity: enabled ? 1 : 0.6
    Accessible.name: placeholderText

    background: Rectangle {
        visible: control.framed
        radius: Theme.fieldRadius
        color: Theme.fieldBackground
        border.width: control.activeFocus ? Theme.focusWidth : 1
        border.color: control.activeFocus ? Theme.focusRing : (control.hovered ? Theme.secondaryText : Theme.fieldBorder)
    }
}
