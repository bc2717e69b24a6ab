pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import Telmora

// Sidebar and the selected section's screen, the notice banner, and the sheets: one at a
// time, presented while the Store asks for it.
Item {
    id: root

    enum Section { Apps, Purchases, Downloads }

    property int section: RootView.Apps
    // The screens come one frame after the window: it shows at once, the catalog fills in.
    property bool started: false

    function focusSearch(): void {
        root.section = RootView.Apps
        // The apps screen's focus chain ends in its search field.
        if (apps.count > 0)
            apps.itemAt(0).forceActiveFocus()
    }

    Connections {
        target: root.Window.window
        enabled: !root.started
        function onFrameSwapped() {
            root.started = true
        }
    }

    RootModel {
        id: rootModel
        store: Store
    }

    RowLayout {
        anchors.fill: parent
        spacing: 0

        Sidebar {
            id: sidebar
            Layout.fillHeight: true
            Layout.preferredWidth: 226
            Layout.minimumWidth: 210
            section: root.section
            rootModel: rootModel
            onSectionChosen: (chosen) => root.section = chosen
            onAboutRequested: root.showAbout()
        }
        Rectangle {
            Layout.fillHeight: true
            Layout.preferredWidth: 1
            color: Theme.separator
        }
        // A fresh screen on every switch: selection, filter and view state start over. A new
        // screen takes the keyboard focus, unless a sheet holds it.
        FocusScope {
            id: detail
            objectName: "detailArea"
            Layout.fillWidth: true
            Layout.fillHeight: true
            focus: true

            function take(screen: Item): void {
                screen.focus = true
                if (!sheets.visible)
                    screen.forceActiveFocus()
            }

            Repeater {
                id: apps
                model: root.started && root.section === RootView.Apps ? 1 : 0
                onItemAdded: (index, item) => detail.take(item)
                AppsView {
                    width: detail.width
                    height: detail.height
                }
            }
            Repeater {
                model: root.started && root.section === RootView.Purchases ? 1 : 0
                onItemAdded: (index, item) => detail.take(item)
                PurchasesView {
                    width: detail.width
                    height: detail.height
                }
            }
            Repeater {
                model: root.started && root.section === RootView.Downloads ? 1 : 0
                onItemAdded: (index, item) => detail.take(item)
                DownloadsView {
                    width: detail.width
                    height: detail.height
                }
            }
        }
    }

    // Over the screen, not the sidebar: the account and update buttons stay in reach.
    NoticeBanner {
        z: 10
        x: sidebar.width + 1 + 16
        width: root.width - x - 16
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 16
    }

    // Made when first asked for.
    property AboutDialog about: null
    function showAbout(): void {
        if (!root.about)
            root.about = aboutComponent.createObject(root) as AboutDialog
        root.about.open()
    }
    Component {
        id: aboutComponent
        AboutDialog {}
    }

    SheetHost {
        id: sheets
        rootModel: rootModel
    }
}
