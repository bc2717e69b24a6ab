import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Telmora

// Brand header on top, then the three sections.
Rectangle {
    id: root
    property int currentIndex: 0
    property string resourcesUrl: ""
    readonly property var sections: [
        { title: "Приложения", objectName: "sectionApps" },
        { title: "Мои покупки", objectName: "sectionPurchases" },
        { title: "Скачанное", objectName: "sectionDownloads" }
    ]
    color: Theme.sidebarBackground

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        RowLayout {
            objectName: "brandHeader"
            Layout.fillWidth: true
            Layout.leftMargin: 16
            Layout.rightMargin: 16
            Layout.topMargin: 14
            Layout.bottomMargin: 12
            spacing: 10
            Accessible.name: "Telmora — от команды telmora.app"

            AppLogo {
                Layout.preferredWidth: 34
                Layout.preferredHeight: 34
                source: root.resourcesUrl ? root.resourcesUrl + "/logo.png" : ""
            }
            ColumnLayout {
                spacing: 3
                Wordmark { source: root.resourcesUrl ? root.resourcesUrl + "/wordmark.png" : "" }
                Text {
                    text: "от команды telmora.app"
                    font.pixelSize: 11
                    color: Theme.secondaryText
                }
            }
            Item { Layout.fillWidth: true }
        }

        ListView {
            id: list
            objectName: "sectionList"
            Layout.fillWidth: true
            Layout.fillHeight: true
            model: root.sections
            currentIndex: root.currentIndex
            interactive: false
            delegate: ItemDelegate {
                required property var modelData
                required property int index
                objectName: modelData.objectName
                width: ListView.view.width
                height: 34
                highlighted: index === root.currentIndex
                leftPadding: 18
                contentItem: Text {
                    text: modelData.title
                    font.pixelSize: 13
                    color: Theme.text
                    verticalAlignment: Text.AlignVCenter
                }
                background: Rectangle {
                    anchors.fill: parent
                    anchors.leftMargin: 8
                    anchors.rightMargin: 8
                    radius: 6
                    color: highlighted ? Theme.selection : "transparent"
                }
                onClicked: root.currentIndex = index
            }
        }
    }
}
