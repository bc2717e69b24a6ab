import QtQuick
import QtQuick.Layouts
import Telmora

// A question before a destructive step: the safe answer has the focus, Escape dismisses.
Sheet {
    id: dialog

    property string title: ""
    property string message: ""
    property string actionText: ""
    signal confirmed()

    width: 380
    onOpened: cancelButton.forceActiveFocus()

    ColumnLayout {
        anchors.fill: parent
        spacing: 10

        Text {
            objectName: "confirmTitle"
            Layout.fillWidth: true
            text: dialog.title
            font.pixelSize: 15
            font.weight: Font.DemiBold
            color: Theme.text
            wrapMode: Text.Wrap
        }
        Text {
            objectName: "confirmMessage"
            Layout.fillWidth: true
            visible: text !== ""
            text: dialog.message
            font.pixelSize: 13
            color: Theme.secondaryText
            wrapMode: Text.WrapAnywhere
        }
        RowLayout {
            Layout.topMargin: 10
            spacing: 8
            Item { Layout.fillWidth: true }
            PlainButton {
                id: cancelButton
                objectName: "confirmCancel"
                text: "Отмена"
                onClicked: dialog.close()
            }
            PlainButton {
                objectName: "confirmAction"
                text: dialog.actionText
                destructive: true
                onClicked: {
                    dialog.confirmed()
                    dialog.close()
                }
            }
        }
    }
}
