import QtQuick
import QtQuick.Window
import Telmora

// The product name: the wordmark image of the package drawn in the text colour, else bold
// rounded text.
Item {
    id: root

    property color color: Theme.text

    implicitHeight: 17
    implicitWidth: image.status === Image.Ready ? image.implicitWidth * 17 / Math.max(1, image.implicitHeight)
                                                : label.implicitWidth
    Accessible.role: Accessible.StaticText
    Accessible.name: "Telmora"

    Image {
        id: image
        anchors.fill: parent
        source: "image://tint/" + Theme.hex(root.color) + "/file" + Desktop.resourcesFolder + "/wordmark.png"
        fillMode: Image.PreserveAspectFit
        smooth: true
        mipmap: true
        visible: status === Image.Ready
    }
    Text {
        id: label
        objectName: "wordmarkText"
        anchors.verticalCenter: parent.verticalCenter
        visible: image.status !== Image.Ready
        text: "Telmora"
        font.pixelSize: 17
        font.bold: true
        color: root.color
    }
}
