import QtQuick
import Telmora

// The product name: the wordmark image when the package has one, else bold rounded text.
Item {
    id: root
    property url source: ""
    implicitHeight: 17
    implicitWidth: image.status === Image.Ready ? image.implicitWidth * 17 / Math.max(1, image.implicitHeight)
                                                : label.implicitWidth

    Image {
        id: image
        anchors.fill: parent
        source: root.source
        fillMode: Image.PreserveAspectFit
        visible: status === Image.Ready
        Accessible.name: "Telmora"
    }
    Text {
        id: label
        anchors.verticalCenter: parent.verticalCenter
        visible: image.status !== Image.Ready
        text: "Telmora"
        font.pixelSize: 17
        font.bold: true
        color: Theme.text
    }
}
