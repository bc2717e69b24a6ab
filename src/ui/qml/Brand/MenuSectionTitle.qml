import QtQuick
import QtQuick.Controls
import Telmora

// A small heading inside a menu, over the entries it names.
MenuItem {
    id: title

    enabled: false
    height: visible ? implicitHeight : 0
    implicitHeight: 24
    leftPadding: 10

    contentItem: Text {
        text: title.text
        font.pixelSize: 11
        font.weight: Font.DemiBold
        color: Theme.secondaryText
        verticalAlignment: Text.AlignBottom
    }
    background: Item {}
}
