import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Telmora

// Logo, wordmark and the maker's credit at the top of the sidebar. It is also the button of
// the application menu (about, updates, quit).
Button {
    id: header

    signal aboutRequested()

    objectName: "brandHeader"
    leftPadding: 8
    rightPadding: 8
    topPadding: 6
    bottomPadding: 6
    hoverEnabled: true
    focusPolicy: Qt.StrongFocus
    Accessible.name: "Telmora — от telmora.app"
    Accessible.description: "Меню приложения"
    onClicked: appMenu.popup(header, 8, header.height)

    Keys.onReturnPressed: header.clicked()
    Keys.onEnterPressed: header.clicked()

    contentItem: RowLayout {
        spacing: 10

        AppLogo {
            Layout.preferredWidth: 34
            Layout.preferredHeight: 34
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 3
            Wordmark {}
            Text {
                Layout.fillWidth: true
                text: "от telmora.app"
                font.pixelSize: 11
                color: Theme.secondaryText
                elide: Text.ElideRight
            }
        }
        Icon {
            symbol: "chevron.up.chevron.down"
            size: 13
            color: Theme.secondaryText
            opacity: header.hovered || header.visualFocus || appMenu.visible ? 1 : 0.55
        }
    }

    background: Rectangle {
        radius: 9
        color: header.down || appMenu.visible ? Theme.hoverFill : (header.hovered ? Theme.hoverFill : "transparent")
        FocusRing {
            baseRadius: 9
            shown: header.visualFocus
        }
    }

    BrandMenu {
        id: appMenu
        objectName: "appMenu"
        BrandMenuItem {
            objectName: "menuAbout"
            text: "О приложении Telmora"
            symbol: "info.circle"
            onTriggered: header.aboutRequested()
        }
        BrandMenuItem {
            objectName: "menuCheckUpdates"
            text: "Проверить обновления…"
            symbol: "arrow.clockwise"
            onTriggered: Actions.checkForUpdates()
        }
        BrandMenuSeparator {}
        BrandMenuItem {
            objectName: "menuQuit"
            text: "Выйти"
            symbol: "power"
            shortcutText: "Ctrl+Q"
            onTriggered: Qt.quit()
        }
    }
}
