import QtQuick
import QtQuick.Controls
import Telmora

// A tooltip on a dark rounded card, wrapping long texts.
ToolTip {
    id: tip

    delay: 500
    padding: 8
    font.pixelSize: 12

    contentItem: Text {
        text: tip.text
        font: tip.font
        color: Theme.dark ? Theme.text : "#FFFFFF"
        wrapMode: Text.Wrap
        width: Math.min(implicitWidth, 320)
    }
    background: Rectangle {
        radius: 6
        color: Theme.dark ? "#45474E" : "#2B2A29"
    }
}
