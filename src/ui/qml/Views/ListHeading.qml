import QtQuick
import Telmora

// The small title over one part of a list.
Text {
    width: parent ? parent.width : implicitWidth
    leftPadding: 22
    topPadding: 10
    bottomPadding: 4
    font.pixelSize: Theme.headingSize
    font.weight: Font.DemiBold
    color: Theme.secondaryText
}
