import QtQuick
import QtQuick.Layouts
import Telmora

// One download of the queue: waiting, running with its progress, or failed with its reason.
Item {
    id: row

    required property job job
    required property appItem app
    required property string title
    required property int rowState
    required property var fraction
    required property string status
    required property string removeLabel
    required property string artwork

    readonly property bool running: rowState === JobListModel.Running
    readonly property bool failed: rowState === JobListModel.Failed

    objectName: "job_" + app.id
    implicitHeight: 64
    Accessible.role: Accessible.ListItem
    Accessible.name: title

    Component.onCompleted: Store.requestDetails(row.app.id)

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 20
        anchors.rightMargin: 20
        spacing: 12

        AppIcon {
            size: 44
            name: row.app.name
            artwork: row.artwork
            active: row.running
            fraction: row.fraction
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 4

            Text {
                Layout.fillWidth: true
                text: row.title
                font.pixelSize: 13
                font.weight: Font.Medium
                color: Theme.text
                elide: Text.ElideRight
                maximumLineCount: 1
            }
            RowLayout {
                Layout.fillWidth: true
                spacing: 10
                ProgressLine {
                    objectName: "jobProgress"
                    Layout.preferredWidth: 180
                    visible: row.running
                    indeterminate: row.fraction === undefined
                    value: row.fraction === undefined ? 0 : row.fraction
                }
                TextEdit {
                    objectName: "jobStatus"
                    Layout.fillWidth: true
                    text: row.status
                    color: row.failed ? Theme.danger : Theme.secondaryText
                    font.pixelSize: Theme.captionSize
                    readOnly: true
                    selectByMouse: row.failed
                    selectionColor: Theme.textSelection
                    wrapMode: row.failed ? TextEdit.Wrap : TextEdit.NoWrap
                }
            }
        }
        BrandButton {
            objectName: "retryJob"
            visible: row.failed
            kind: BrandButton.Tonal
            text: "Повторить"
            onClicked: Actions.retry(row.job)
        }
        IconButton {
            objectName: row.failed ? "removeJob" : "cancelJob"
            symbol: "xmark"
            Accessible.name: row.failed ? row.removeLabel : "Отмена"
            onClicked: row.failed ? Actions.removeJob(row.job) : Actions.cancel(row.job)
        }
    }
}
