pragma ComponentBehavior: Bound
import QtQuick
import Telmora

// Presents the sheet the root model names. Closing it by hand (Escape, a cancel button)
// clears what presents it; a sheet the Store no longer asks for just closes.
Sheet {
    id: host

    required property RootModel rootModel

    objectName: "sheet"
    padding: 0

    function follow(): void {
        if (host.rootModel.sheet === RootModel.None)
            host.close()
        else
            host.open()
    }

    Component.onCompleted: follow()
    onClosed: {
        if (host.rootModel.sheet !== RootModel.None)
            host.rootModel.dismissSheet()
    }

    Connections {
        target: host.rootModel
        function onSheetChanged() {
            host.follow()
        }
    }

    // The shown sheet's view, made afresh each time a sheet opens. Every view signals
    // "dismissed" for its cancel or close button.
    Item {
        id: content

        property Item view: null

        implicitWidth: view ? view.implicitWidth : 0
        implicitHeight: view ? view.implicitHeight : 0

        Repeater {
            model: host.rootModel.sheet === RootModel.Login ? 1 : 0
            onItemAdded: (index, item) => content.view = item
            LoginView {
                anchors.fill: parent
                focus: true
                onDismissed: host.close()
            }
        }
        Repeater {
            model: host.rootModel.sheet === RootModel.Versions ? 1 : 0
            onItemAdded: (index, item) => content.view = item
            VersionsView {
                anchors.fill: parent
                focus: true
                onDismissed: host.close()
            }
        }
        Repeater {
            model: host.rootModel.sheet === RootModel.Update ? 1 : 0
            onItemAdded: (index, item) => content.view = item
            UpdateView {
                anchors.fill: parent
                focus: true
                onDismissed: host.close()
            }
        }
        Repeater {
            model: host.rootModel.sheet === RootModel.DeviceHelp ? 1 : 0
            onItemAdded: (index, item) => content.view = item
            DeviceHelpView {
                anchors.fill: parent
                focus: true
                onDismissed: host.close()
            }
        }
    }
}
