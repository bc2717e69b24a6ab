pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Telmora

// The bottom of the sidebar: the connected iPhone, a waiting update and the account menu.
// Its menus and the sign-out question are made when first opened.
ColumnLayout {
    id: footer

    signal aboutRequested()

    readonly property FooterModel model: FooterModel {
        store: Store
    }
    property BrandMenu deviceMenu: null
    property BrandMenu accountMenu: null
    property ConfirmDialog logoutDialog: null

    function showDeviceMenu(): void {
        if (!footer.deviceMenu)
            footer.deviceMenu = deviceMenuComponent.createObject(device) as BrandMenu
        footer.deviceMenu.open()
    }
    function showAccountMenu(): void {
        if (!footer.accountMenu)
            footer.accountMenu = accountMenuComponent.createObject(account) as BrandMenu
        footer.accountMenu.open()
    }
    function askLogout(): void {
        if (!footer.logoutDialog)
            footer.logoutDialog = logoutComponent.createObject(footer) as ConfirmDialog
        footer.logoutDialog.open()
    }

    objectName: "sidebarFooter"
    spacing: 6

    // The phone: a button that opens the help, or with two phones a menu choosing one.
    Button {
        id: device
        objectName: "deviceStatus"
        Layout.fillWidth: true
        Layout.leftMargin: 8
        Layout.rightMargin: 8
        hoverEnabled: true
        focusPolicy: Qt.StrongFocus
        leftPadding: 10
        rightPadding: 8
        topPadding: 7
        bottomPadding: 7
        Accessible.name: footer.model.deviceTitle + ", " + footer.model.deviceSubtitle
        onClicked: {
            if (footer.model.deviceMenu)
                footer.showDeviceMenu()
            else
                Store.showDeviceHelp = true
        }
        Keys.onReturnPressed: device.clicked()
        Keys.onEnterPressed: device.clicked()

        contentItem: RowLayout {
            spacing: 9
            Icon {
                symbol: "iphone.gen3"
                size: 18
                color: Store.readyDevice !== undefined ? Theme.apricotInk : Theme.secondaryText
            }
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 1
                Text {
                    objectName: "deviceTitle"
                    Layout.fillWidth: true
                    text: footer.model.deviceTitle
                    font.pixelSize: 12
                    font.weight: Font.Medium
                    color: Theme.text
                    elide: Text.ElideRight
                }
                Text {
                    objectName: "deviceSubtitle"
                    Layout.fillWidth: true
                    text: footer.model.deviceSubtitle
                    font.pixelSize: 11
                    color: Theme.secondaryText
                    elide: Text.ElideRight
                }
            }
            Icon {
                visible: footer.model.deviceMenu
                symbol: "chevron.up.chevron.down"
                size: 12
                color: Theme.secondaryText
            }
        }
        background: Rectangle {
            radius: 8
            color: device.down ? Theme.controlFillPressed : (device.hovered ? Theme.hoverFill : "transparent")
            FocusRing {
                baseRadius: 8
                shown: device.visualFocus
            }
        }
    }

    BrandButton {
        objectName: "updateButton"
        Layout.fillWidth: true
        Layout.leftMargin: 8
        Layout.rightMargin: 8
        visible: footer.model.updateShown
        kind: BrandButton.Tonal
        symbol: "arrow.down.circle"
        text: footer.model.updateTitle
        onClicked: Store.showUpdate = true
    }

    BrandButton {
        objectName: "signInButton"
        Layout.fillWidth: true
        Layout.leftMargin: 8
        Layout.rightMargin: 8
        Layout.bottomMargin: 10
        visible: footer.model.signInShown
        text: "Войти в аккаунт Apple"
        onClicked: Actions.beginLogin()
    }

    // The account: who is signed in, and the menu to switch, add, sign out, check for updates.
    Button {
        id: account
        objectName: "accountButton"
        Layout.fillWidth: true
        Layout.leftMargin: 8
        Layout.rightMargin: 8
        Layout.bottomMargin: 10
        visible: footer.model.accountShown
        hoverEnabled: true
        focusPolicy: Qt.StrongFocus
        leftPadding: 8
        rightPadding: 8
        topPadding: 6
        bottomPadding: 6
        Accessible.name: "Выбрать аккаунт"
        onClicked: footer.showAccountMenu()
        Keys.onReturnPressed: account.clicked()
        Keys.onEnterPressed: account.clicked()

        contentItem: RowLayout {
            spacing: 9
            Rectangle {
                implicitWidth: 28
                implicitHeight: 28
                radius: 14
                color: footer.model.signedIn ? Theme.apricot : Theme.tilePlaceholder
                Text {
                    anchors.centerIn: parent
                    visible: footer.model.signedIn
                    text: footer.model.accountLetter
                    font.pixelSize: 13
                    font.weight: Font.DemiBold
                    color: Theme.onApricot
                }
                Icon {
                    anchors.centerIn: parent
                    visible: !footer.model.signedIn
                    symbol: "person"
                    size: 15
                    color: Theme.secondaryText
                }
            }
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 1
                Text {
                    objectName: "accountTitle"
                    Layout.fillWidth: true
                    text: footer.model.accountTitle
                    font.pixelSize: 12
                    font.weight: Font.Medium
                    color: Theme.text
                    elide: Text.ElideMiddle
                }
                Text {
                    objectName: "accountSubtitle"
                    Layout.fillWidth: true
                    text: footer.model.accountSubtitle
                    font.pixelSize: 11
                    color: Theme.secondaryText
                    elide: Text.ElideRight
                }
            }
            Icon {
                symbol: "chevron.up.chevron.down"
                size: 12
                color: Theme.secondaryText
            }
        }
        background: Rectangle {
            readonly property bool menuOpen: footer.accountMenu !== null && footer.accountMenu.visible
            radius: 8
            color: account.down || menuOpen ? Theme.controlFillPressed : (account.hovered ? Theme.hoverFill : "transparent")
            FocusRing {
                baseRadius: 8
                shown: account.visualFocus
            }
        }
    }

    // Above the phone block, which sits at the bottom of the window.
    Component {
        id: deviceMenuComponent
        BrandMenu {
            id: menu
            objectName: "deviceMenu"
            y: -height - 4
            // One entry per phone, in the Store's order.
            Instantiator {
                model: footer.model.deviceEntries
                onObjectAdded: (index, entry) => menu.insertItem(index, entry as MenuItem)
                onObjectRemoved: (index, entry) => menu.removeItem(entry as MenuItem)
                BrandMenuItem {
                    required property var modelData
                    objectName: "deviceEntry_" + modelData.id
                    text: modelData.text
                    symbol: modelData.selected ? "checkmark" : ""
                    onTriggered: Store.selectedDevice = modelData.id
                }
            }
        }
    }

    Component {
        id: accountMenuComponent
        BrandMenu {
            id: menu
            objectName: "accountMenu"
            implicitWidth: 250
            y: -height - 4

            MenuSectionTitle {
                visible: footer.model.savedAccounts.length > 0
                text: "Другие аккаунты"
            }
            // The saved accounts, after their heading.
            Instantiator {
                model: footer.model.savedAccounts
                onObjectAdded: (index, entry) => menu.insertItem(1 + index, entry as MenuItem)
                onObjectRemoved: (index, entry) => menu.removeItem(entry as MenuItem)
                BrandMenuItem {
                    required property string modelData
                    objectName: "account_" + modelData
                    text: modelData
                    symbol: "person"
                    onTriggered: Actions.switchAccount(modelData)
                }
            }
            BrandMenuItem {
                objectName: "addAccount"
                text: "Добавить аккаунт…"
                symbol: "plus"
                onTriggered: Actions.addAccount()
            }
            BrandMenuSeparator {
                visible: footer.model.signedIn
                height: visible ? implicitHeight : 0
            }
            BrandMenuItem {
                objectName: "logoutItem"
                visible: footer.model.signedIn
                height: visible ? implicitHeight : 0
                text: footer.model.logoutEntry
                symbol: "rectangle.portrait.and.arrow.right"
                onTriggered: footer.askLogout()
            }
            BrandMenuSeparator {}
            BrandMenuItem {
                objectName: "checkUpdatesItem"
                visible: footer.model.updateItemShown
                height: visible ? implicitHeight : 0
                text: "Проверить обновления"
                symbol: "arrow.clockwise"
                onTriggered: Actions.checkForUpdates()
            }
            BrandMenuItem {
                objectName: "aboutItem"
                text: "О приложении"
                symbol: "info.circle"
                onTriggered: footer.aboutRequested()
            }
        }
    }

    Component {
        id: logoutComponent
        ConfirmDialog {
            objectName: "logoutDialog"
            title: footer.model.logoutTitle
            message: footer.model.logoutMessage
            actionText: "Выйти"
            onConfirmed: Actions.logout()
        }
    }
}
