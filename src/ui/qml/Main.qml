import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Telmora

ApplicationWindow {
    id: window
    objectName: "mainWindow"
    width: 1120
    height: 720
    minimumWidth: 880
    minimumHeight: 560
    visible: true
    title: "Telmora — от команды telmora.app"
    color: Theme.windowBackground

    NoticeBanner {
        z: 10
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: 16
    }

    RowLayout {
        anchors.fill: parent
        spacing: 0

        Sidebar {
            id: sidebar
            Layout.fillHeight: true
            Layout.preferredWidth: 226
            Layout.minimumWidth: 210
            resourcesUrl: typeof packageResourcesUrl !== "undefined" ? packageResourcesUrl : ""
        }
        Rectangle {
            Layout.fillHeight: true
            Layout.preferredWidth: 1
            color: Theme.separator
        }
        Item {
            objectName: "detailArea"
            Layout.fillWidth: true
            Layout.fillHeight: true

            Text {
                anchors.centerIn: parent
                text: sidebar.sections[sidebar.currentIndex].title
                font.pixelSize: 22
                font.bold: true
                color: Theme.text
            }
        }
    }
}
