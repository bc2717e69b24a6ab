import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Telmora

// A new build on offer: its notes, the download and install as they go, and the choice to
// update now or later.
FocusScope {
    id: sheet

    signal dismissed()

    readonly property bool downloading: Store.updatePhase.isDownloading
    readonly property bool installing: Store.updatePhase.isInstalling
    readonly property bool available: Store.updatePhase.isAvailable

    function update(): void {
        if (sheet.available)
            Actions.installUpdate()
    }

    objectName: "updateView"
    implicitWidth: 460
    implicitHeight: column.implicitHeight + 48
    focus: true
    Keys.onReturnPressed: sheet.update()
    Keys.onEnterPressed: sheet.update()

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: 24
        spacing: 14

        Text {
            objectName: "updateTitle"
            text: Labels.updateHeading(Store.updateOffer)
            font.pixelSize: Theme.sheetTitleSize
            font.weight: Font.DemiBold
            color: Theme.text
        }
        ScrollView {
            Layout.fillWidth: true
            Layout.preferredHeight: Math.min(200, notes.implicitHeight + 4)
            clip: true
            ScrollBar.vertical: BrandScrollBar {}
            TextEdit {
                id: notes
                objectName: "updateNotes"
                width: column.width - 12
                text: Labels.updateNotes(Store.updateOffer)
                font.pixelSize: 13
                color: Theme.text
                readOnly: true
                selectByMouse: true
                selectionColor: Theme.textSelection
                wrapMode: TextEdit.Wrap
            }
        }
        RowLayout {
            objectName: "updateProgress"
            Layout.fillWidth: true
            visible: sheet.downloading
            spacing: 10
            ProgressLine {
                Layout.fillWidth: true
                value: Store.updatePhase.fraction
            }
            Text {
                objectName: "updatePercent"
                text: Labels.wholePercent(Store.updatePhase.fraction)
                font.pixelSize: 12
                color: Theme.secondaryText
            }
        }
        RowLayout {
            objectName: "updateInstalling"
            visible: sheet.installing
            spacing: 8
            Spinner {}
            Text {
                text: "Устанавливаю…"
                font.pixelSize: 12
                color: Theme.secondaryText
            }
        }
        RowLayout {
            objectName: "updateError"
            Layout.fillWidth: true
            visible: !sheet.downloading && !sheet.installing && Store.updateError !== undefined
            spacing: 8
            Icon {
                Layout.alignment: Qt.AlignTop
                symbol: "exclamationmark.triangle.fill"
                size: 15
                color: Theme.danger
            }
            TextEdit {
                Layout.fillWidth: true
                text: Store.updateError !== undefined ? Store.updateError : ""
                font.pixelSize: 12
                color: Theme.danger
                readOnly: true
                selectByMouse: true
                selectionColor: Theme.textSelection
                wrapMode: TextEdit.Wrap
            }
        }
        Text {
            Layout.fillWidth: true
            text: "Приложение закроется, обновится и откроется снова. Вход в аккаунты и скачанные файлы останутся."
            font.pixelSize: 12
            color: Theme.secondaryText
            wrapMode: Text.Wrap
        }
        RowLayout {
            Layout.fillWidth: true
            Layout.topMargin: 4
            spacing: 8
            PlainButton {
                objectName: "updateLater"
                text: "Позже"
                onClicked: sheet.dismissed()
            }
            Item { Layout.fillWidth: true }
            BrandButton {
                objectName: "updateInstall"
                focus: true
                text: "Обновить"
                enabled: sheet.available
                onClicked: sheet.update()
            }
        }
    }
}
