import QtQuick
import Telmora

// Further actions on one app, the same in rows and tiles. Which entries show is decided
// when the menu opens, from the app's stored file and the connected phone.
BrandMenu {
    id: menu

    property appItem app
    property var commands: []

    function has(command: string): bool {
        return menu.commands.indexOf(command) >= 0
    }

    objectName: "appMenu"
    onAboutToShow: menu.commands = Actions.appMenu(menu.app)

    BrandMenuItem {
        objectName: "menuVersions"
        text: "Выбрать версию…"
        symbol: "clock"
        onTriggered: Actions.runAppCommand("versions", menu.app)
    }
    BrandMenuItem {
        objectName: "menuRedownload"
        text: "Скачать заново"
        symbol: "arrow.down.to.line"
        visible: menu.has("redownload")
        height: visible ? implicitHeight : 0
        onTriggered: Actions.runAppCommand("redownload", menu.app)
    }
    BrandMenuItem {
        objectName: "menuReveal"
        text: Desktop.revealTitle
        symbol: "folder"
        visible: menu.has("reveal")
        height: visible ? implicitHeight : 0
        onTriggered: Actions.runAppCommand("reveal", menu.app)
    }
    BrandMenuItem {
        objectName: "menuDownloadOnly"
        text: "Только скачать"
        symbol: "arrow.down.to.line"
        visible: menu.has("downloadOnly")
        height: visible ? implicitHeight : 0
        onTriggered: Actions.runAppCommand("downloadOnly", menu.app)
    }
    BrandMenuItem {
        objectName: "menuLicense"
        text: "Только получить лицензию"
        symbol: "key"
        onTriggered: Actions.runAppCommand("license", menu.app)
    }
    BrandMenuSeparator {}
    BrandMenuItem {
        objectName: "menuAppStore"
        text: "Открыть в App Store"
        symbol: "arrow.up.right.square"
        onTriggered: Actions.runAppCommand("appStore", menu.app)
    }
    BrandMenuItem {
        objectName: "menuCopyId"
        text: "Скопировать ID"
        symbol: "doc.on.doc"
        onTriggered: Actions.runAppCommand("copyId", menu.app)
    }
}
