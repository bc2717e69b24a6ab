pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Telmora

// The versions of one app as a timeline, newest first: the row that suits the phone is
// marked, and each row downloads (or installs) that version.
FocusScope {
    id: sheet

    signal dismissed()

    readonly property VersionListModel versions: VersionListModel {
        store: Store
    }
    readonly property string appName: Store.versionsApp !== undefined ? Store.versionsApp.name : ""

    objectName: "versionsView"
    implicitWidth: 560
    implicitHeight: 560
    focus: true

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        RowLayout {
            Layout.fillWidth: true
            Layout.margins: 20
            spacing: 12
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 3
                Text {
                    objectName: "versionsTitle"
                    Layout.fillWidth: true
                    text: sheet.appName
                    font.pixelSize: 18
                    font.weight: Font.DemiBold
                    color: Theme.text
                    elide: Text.ElideRight
                }
                Text {
                    objectName: "versionsSubtitle"
                    Layout.fillWidth: true
                    text: sheet.versions.header
                    font.pixelSize: 12
                    color: Theme.secondaryText
                    elide: Text.ElideRight
                }
            }
            PlainButton {
                objectName: "versionsClose"
                focus: true
                text: "Закрыть"
                onClicked: sheet.dismissed()
            }
        }
        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 1
            color: Theme.separator
        }

        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true

            Column {
                objectName: "versionsLoading"
                anchors.centerIn: parent
                visible: Store.versionsLoading && sheet.versions.count === 0
                spacing: 12
                Spinner {
                    anchors.horizontalCenter: parent.horizontalCenter
                    size: 24
                }
                Text {
                    text: "Получаю список версий…"
                    font.pixelSize: 13
                    color: Theme.secondaryText
                }
            }
            EmptyState {
                objectName: "versionsError"
                anchors.fill: parent
                visible: !Store.versionsLoading && Store.versionsError !== undefined && sheet.versions.count === 0
                symbol: "exclamationmark.triangle"
                title: "Список версий не загрузился"
                description: Store.versionsError !== undefined ? Store.versionsError : ""
            }

            ListView {
                id: list
                objectName: "versionList"
                anchors.fill: parent
                visible: sheet.versions.count > 0
                clip: true
                model: sheet.versions
                topMargin: 10
                boundsBehavior: Flickable.StopAtBounds
                ScrollBar.vertical: BrandScrollBar {}

                delegate: VersionRowView {
                    width: ListView.view.width
                    actionTitle: sheet.versions.actionTitle
                }
            }
        }
        // Under the rows while some still lack their details.
        Item {
            Layout.fillWidth: true
            implicitHeight: 56
            visible: sheet.versions.count > 0 && sheet.versions.missingDetails
            Rectangle {
                width: parent.width
                height: 1
                color: Theme.separator
            }
            Spinner {
                objectName: "versionsSpinner"
                anchors.centerIn: parent
                visible: Store.versionsLoading
            }
            PlainButton {
                objectName: "loadMoreVersions"
                anchors.centerIn: parent
                visible: !Store.versionsLoading
                text: "Показать данные ещё для 10 версий"
                onClicked: Actions.loadMoreVersionDetails()
            }
        }
    }
}
