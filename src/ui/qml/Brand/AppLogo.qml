import QtQuick
import Telmora

// The application logo: the logo image when the package has one, else an apricot square.
Item {
    id: root
    property url source: ""

    Image {
        id: image
        anchors.fill: parent
        source: root.source
        fillMode: Image.PreserveAspectFit
        visible: status === Image.Ready
    }
    Rectangle {
        anchors.fill: parent
        visible: image.status !== Image.Ready
        radius: 8
        color: Theme.apricot
    }
}
