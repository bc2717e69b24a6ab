import QtQuick
import Telmora

// The application logo from the package, else an apricot rounded square.
Item {
    id: root

    Image {
        id: image
        anchors.fill: parent
        source: Desktop.resourcesUrl + "logo.png"
        sourceSize.width: root.width * 3
        sourceSize.height: root.height * 3
        fillMode: Image.PreserveAspectFit
        smooth: true
        mipmap: true
        visible: status === Image.Ready
    }
    Rectangle {
        objectName: "logoFallback"
        anchors.fill: parent
        visible: image.status !== Image.Ready
        radius: 8
        color: Theme.apricot
    }
}
