import QtQuick
import QtQuick.Layouts
import Telmora

// One downloaded package: what it is, its install state, and install, reveal and trash.
Item {
    id: row

    required property ipaFile file
    required property string url
    required property string fileName
    required property appItem app
    required property bool hasApp
    required property string title
    required property string subtitle
    required property int installState
    required property string message
    required property var mark
    required property string actionTitle
    required property string artwork
    signal trashRequested()

    readonly property bool installing: installState === FileListModel.Installing
    readonly property bool queued: installState === FileListModel.Queued
    readonly property bool failed: installState === FileListModel.Failed

    objectName: "file_" + fileName
    implicitHeight: 64
    Accessible.role: Accessible.ListItem
    Accessible.name: title

    Component.onCompleted: {
        if (row.hasApp)
            Store.requestDetails(row.app.id)
    }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 20
        anchors.rightMargin: 20
        spacing: 12

        Item {
            implicitWidth: 44
            implicitHeight: 44
            AppIcon {
                visible: row.hasApp
                size: 44
                name: row.title
                artwork: row.artwork
                mark: row.mark
            }
            Rectangle {
                visible: !row.hasApp
                anchors.fill: parent
                radius: 10
                color: Theme.tilePlaceholder
                Icon {
                    anchors.centerIn: parent
                    symbol: "doc.fill"
                    size: 22
                    color: Theme.secondaryText
                }
            }
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 2

            Text {
                Layout.fillWidth: true
                text: row.title
                font.pixelSize: 13
                font.weight: Font.Medium
                color: Theme.text
                elide: Text.ElideRight
                maximumLineCount: 1
            }
            Text {
                objectName: "fileSubtitle"
                Layout.fillWidth: true
                text: row.subtitle
                font.pixelSize: Theme.captionSize
                color: Theme.secondaryText
                elide: Text.ElideRight
            }
            RowLayout {
                Layout.fillWidth: true
                visible: row.failed || row.installing || row.queued
                spacing: 8
                TextEdit {
                    objectName: "fileStatus"
                    Layout.fillWidth: !row.installing
                    text: row.failed ? row.message
                        : row.installing ? (Store.installStatus !== undefined ? Store.installStatus : "")
                        : "Ждёт установки"
                    color: row.failed ? Theme.danger : (row.installing ? Theme.apricotInk : Theme.secondaryText)
                    font.pixelSize: Theme.captionSize
                    readOnly: true
                    selectByMouse: true
                    selectionColor: Theme.textSelection
                    wrapMode: row.failed ? TextEdit.Wrap : TextEdit.NoWrap
                }
                ProgressLine {
                    objectName: "installProgress"
                    Layout.preferredWidth: 160
                    visible: row.installing
                    indeterminate: Store.installFraction === undefined
                    value: Store.installFraction !== undefined ? Store.installFraction : 0
                }
            }
        }
        Spinner {
            objectName: "installSpinner"
            visible: row.installing
            Accessible.name: "Идёт установка"
        }
        BrandButton {
            objectName: "installFile"
            visible: !row.installing && !row.queued
            kind: BrandButton.Tonal
            text: row.actionTitle
            onClicked: Actions.install(row.url)
        }
        IconButton {
            id: menuButton
            objectName: "fileMenu"
            symbol: "ellipsis"
            Accessible.name: "Ещё: " + row.title
            onClicked: menu.popup(menuButton, 0, menuButton.height + 2)

            BrandMenu {
                id: menu
                BrandMenuItem {
                    objectName: "fileReveal"
                    text: Desktop.revealTitle
                    symbol: "folder"
                    onTriggered: Desktop.reveal(row.url)
                }
                BrandMenuItem {
                    objectName: "fileTrash"
                    text: "В Корзину…"
                    symbol: "trash"
                    destructive: true
                    onTriggered: row.trashRequested()
                }
            }
        }
    }
}
