import QtQuick
import QtQuick.Layouts
import Telmora

// One version on the timeline: a dot on a line that stops at the first and last rows, the
// version and its requirement, the "Подойдёт" badge, and the button that queues it.
Item {
    id: row

    required property string versionId
    required property string title
    required property string subtitle
    required property string label
    required property bool suitable
    required property bool isFirst
    required property bool isLast
    property string actionTitle: ""

    objectName: "version_" + versionId
    implicitHeight: 58
    Accessible.role: Accessible.ListItem
    Accessible.name: title !== "" ? title : subtitle

    Rectangle {
        x: 31
        width: 2
        y: row.isFirst ? row.height / 2 : 0
        height: (row.isFirst ? row.height / 2 : row.height) - (row.isLast ? row.height / 2 : 0)
        color: Theme.separator
    }
    Rectangle {
        x: 26
        anchors.verticalCenter: parent.verticalCenter
        width: 12
        height: 12
        radius: 6
        color: row.suitable ? Theme.apricot : Theme.surface
        border.width: 2
        border.color: row.suitable ? Theme.apricot : Theme.fieldBorder
    }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 54
        anchors.rightMargin: 20
        spacing: 10

        ColumnLayout {
            Layout.fillWidth: true
            spacing: 2
            RowLayout {
                spacing: 8
                Text {
                    visible: row.title !== ""
                    text: row.title
                    font.pixelSize: 14
                    font.weight: Font.DemiBold
                    color: Theme.text
                }
                Rectangle {
                    objectName: "versionBadge"
                    visible: row.suitable
                    implicitWidth: badgeText.implicitWidth + 14
                    implicitHeight: 18
                    radius: 9
                    color: Theme.apricotTint
                    Text {
                        id: badgeText
                        anchors.centerIn: parent
                        text: "Подойдёт"
                        font.pixelSize: 11
                        font.weight: Font.DemiBold
                        color: Theme.apricotInk
                    }
                }
            }
            Text {
                objectName: "versionSubtitle"
                Layout.fillWidth: true
                text: row.subtitle
                font.pixelSize: Theme.captionSize
                color: Theme.secondaryText
                elide: Text.ElideRight
            }
        }
        BrandButton {
            objectName: "versionAction"
            kind: BrandButton.Tonal
            text: row.actionTitle
            onClicked: Actions.chooseVersion(row.versionId, row.label)
        }
    }
}
