pragma ComponentBehavior: Bound
import QtQuick
import QtQml.Models
import QtQuick.Controls
import QtQuick.Layouts
import Telmora

// Brand header (the application menu), the three sections, and the account footer.
Rectangle {
    id: sidebar

    required property int section
    required property RootModel rootModel
    signal sectionChosen(int chosen)
    signal aboutRequested()

    color: Theme.sidebarBackground

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        BrandHeader {
            Layout.fillWidth: true
            Layout.leftMargin: 8
            Layout.rightMargin: 8
            Layout.topMargin: 8
            Layout.bottomMargin: 8
            onAboutRequested: sidebar.aboutRequested()
        }

        ListView {
            id: list
            objectName: "sectionList"
            Layout.fillWidth: true
            Layout.fillHeight: true
            interactive: false
            activeFocusOnTab: true
            keyNavigationEnabled: false
            currentIndex: sidebar.section
            spacing: 2
            Keys.onUpPressed: sidebar.sectionChosen(Math.max(0, sidebar.section - 1))
            Keys.onDownPressed: sidebar.sectionChosen(Math.min(count - 1, sidebar.section + 1))
            model: ListModel {
                ListElement { title: "Приложения"; symbol: "square.grid.2x2"; name: "sectionApps" }
                ListElement { title: "Мои покупки"; symbol: "bag"; name: "sectionPurchases" }
                ListElement { title: "Скачанное"; symbol: "arrow.down.circle"; name: "sectionDownloads" }
            }

            delegate: SidebarRow {
                required property int index
                required property string title
                required property string symbol
                required property string name

                objectName: name
                width: ListView.view.width
                text: title
                iconSymbol: symbol
                selected: index === sidebar.section
                keyboardFocus: list.activeFocus && ListView.isCurrentItem
                badge: index === RootView.Downloads ? Store.activeJobCount : 0
                progressShown: index === RootView.Downloads && sidebar.rootModel.downloadRunning
                progress: sidebar.rootModel.downloadFraction
                onClicked: sidebar.sectionChosen(index)
            }
        }

        SidebarFooter {
            Layout.fillWidth: true
            onAboutRequested: sidebar.aboutRequested()
        }
    }
}
