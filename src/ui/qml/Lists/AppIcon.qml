pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Window
import Telmora

// An app's icon: its store artwork, or the first letter of its name until that has loaded;
// a dark sector for the part of a download still to come, and a badge for a mark.
Item {
    id: icon

    property string name: ""
    property string artwork: ""
    property int size: 44
    property bool active: false
    property var fraction: undefined
    property var mark: undefined

    implicitWidth: size
    implicitHeight: size

    Rectangle {
        anchors.fill: parent
        radius: icon.size * 0.23
        color: Theme.tilePlaceholder
        visible: image.status !== Image.Ready

        Text {
            anchors.centerIn: parent
            text: Labels.placeholderLetter(icon.name)
            font.pixelSize: icon.size * 0.42
            font.weight: Font.DemiBold
            color: Theme.secondaryText
        }
    }
    Image {
        id: image
        anchors.fill: parent
        asynchronous: true
        cache: true
        // The provider crops to fill the square and rounds the corners.
        source: icon.artwork !== "" ? "image://artwork/" + encodeURIComponent(icon.artwork) : ""
        sourceSize.width: Math.ceil(icon.size * Screen.devicePixelRatio)
        sourceSize.height: Math.ceil(icon.size * Screen.devicePixelRatio)
        visible: status === Image.Ready
    }
    // The sector and the badge are made only while shown: grids hold dozens of icons.
    Repeater {
        model: icon.active ? 1 : 0
        RemainingSector {
            id: sector
            objectName: "remainingSector"
            anchors.fill: parent
            visible: sector.remaining > 0
            progress: icon.fraction === undefined ? 0 : icon.fraction

            Behavior on progress {
                enabled: !Desktop.reduceMotion
                NumberAnimation { duration: 300; easing.type: Easing.Linear }
            }
        }
    }
    Repeater {
        model: icon.mark !== undefined ? 1 : 0
        Rectangle {
            objectName: "iconBadge"
            width: 17
            height: 17
            radius: 8.5
            x: icon.size - width + 4
            y: icon.size - height + 4
            color: icon.mark === "checkmark" ? Theme.success : Theme.danger
            border.width: 1.5
            border.color: Theme.windowBackground

            Icon {
                anchors.centerIn: parent
                symbol: icon.mark !== undefined ? icon.mark : ""
                size: 9
                color: Theme.windowBackground
            }
        }
    }
}
