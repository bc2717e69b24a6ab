import QtQuick
import QtQuick.Layouts
import Telmora

// What a screen shows when it has nothing to list: a symbol, a title, a description and an
// optional primary action.
Item {
    id: empty

    property string symbol: ""
    property string title: ""
    property string description: ""
    property string actionText: ""
    signal actionTriggered()

    ColumnLayout {
        anchors.centerIn: parent
        width: Math.min(parent.width - 48, 380)
        spacing: 8

        Rectangle {
            Layout.alignment: Qt.AlignHCenter
            Layout.bottomMargin: 6
            implicitWidth: 56
            implicitHeight: 56
            radius: 28
            color: Theme.apricotTint
            Icon {
                anchors.centerIn: parent
                symbol: empty.symbol
                size: 26
                color: Theme.apricotInk
            }
        }
        Text {
            Layout.fillWidth: true
            text: empty.title
            font.pixelSize: 16
            font.weight: Font.DemiBold
            color: Theme.text
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
        }
        Text {
            objectName: "emptyDescription"
            Layout.fillWidth: true
            text: empty.description
            font.pixelSize: 13
            color: Theme.secondaryText
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            lineHeight: 1.15
            visible: text !== ""
        }
        BrandButton {
            objectName: "emptyAction"
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 8
            visible: empty.actionText !== ""
            text: empty.actionText
            onClicked: empty.actionTriggered()
        }
    }
}
