pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Telmora

// The download queue and the downloaded packages, with install, reveal and trash. The file
// list is read again each time the screen is shown.
FocusScope {
    id: view

    property var trashCandidate: undefined

    objectName: "downloadsView"
    Component.onCompleted: Actions.refreshFiles()
    onTrashCandidateChanged: {
        if (view.trashCandidate !== undefined)
            trashDialog.open()
    }

    readonly property JobListModel queue: JobListModel {
        store: Store
    }
    readonly property FileListModel files: FileListModel {
        store: Store
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        SectionHeader {
            Layout.fillWidth: true
            title: "Скачанное"
            subtitle: "Файлы лежат в папке «Загрузки», внутри папки Telmora"

            PlainButton {
                objectName: "openFolder"
                text: "Открыть папку"
                symbol: "folder"
                onClicked: Desktop.openFolder(Store.downloadsFolder)
            }
        }

        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true

            EmptyState {
                objectName: "downloadsEmpty"
                anchors.fill: parent
                visible: view.queue.count === 0 && view.files.count === 0
                symbol: "arrow.down.circle"
                title: "Пока ничего не скачано"
                description: "Найдите приложение и нажмите «Скачать» или «Установить»."
            }

            ListView {
                id: list
                objectName: "fileList"
                anchors.fill: parent
                visible: view.queue.count > 0 || view.files.count > 0
                clip: true
                model: view.files
                bottomMargin: 72
                boundsBehavior: Flickable.StopAtBounds
                ScrollBar.vertical: BrandScrollBar {}

                // Made from its own file: a header written inline here would not load.
                header: Qt.createComponent("QueueSection.qml")

                delegate: FileRow {
                    width: ListView.view.width
                    onTrashRequested: view.trashCandidate = file
                }
            }
        }
    }

    ConfirmDialog {
        id: trashDialog
        objectName: "trashDialog"
        title: "Переместить в Корзину?"
        message: view.trashCandidate !== undefined ? view.trashCandidate.fileName : ""
        actionText: "В Корзину"
        onConfirmed: Actions.moveToTrash(view.trashCandidate)
        onClosed: view.trashCandidate = undefined
    }
}
