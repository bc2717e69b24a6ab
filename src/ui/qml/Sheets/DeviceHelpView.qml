import QtQuick
import QtQuick.Layouts
import Telmora

// How to connect the iPhone: shown while an install waits for a phone, or when asked for
// from the sidebar. It closes by itself once a phone is ready.
FocusScope {
    id: sheet

    signal dismissed()

    readonly property bool waiting: Store.awaitingDevice !== undefined

    objectName: "deviceHelpView"
    implicitWidth: 440
    implicitHeight: column.implicitHeight + 48
    focus: true

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: 24
        spacing: 14

        Text {
            text: "Подключите iPhone"
            font.pixelSize: Theme.sheetTitleSize
            font.weight: Font.DemiBold
            color: Theme.text
        }
        Text {
            objectName: "deviceHelpSentence"
            Layout.fillWidth: true
            text: Labels.deviceHelpSentence(Store.awaitingDevice)
            font.pixelSize: 13
            color: Theme.secondaryText
            wrapMode: Text.Wrap
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 6
            Repeater {
                model: ["1. Подключите iPhone к компьютеру кабелем.", "2. Разблокируйте его.", "3. Если появится вопрос, нажмите «Доверять»."]
                Text {
                    required property string modelData
                    Layout.fillWidth: true
                    text: modelData
                    font.pixelSize: 13
                    color: Theme.text
                    wrapMode: Text.Wrap
                }
            }
        }
        RowLayout {
            objectName: "deviceServiceLine"
            Layout.fillWidth: true
            visible: Store.deviceServiceMissing
            spacing: 8
            Icon {
                Layout.alignment: Qt.AlignTop
                symbol: "exclamationmark.triangle.fill"
                size: 15
                color: Theme.danger
            }
            TextEdit {
                Layout.fillWidth: true
                text: "Служба устройств не отвечает. Запустите её командой sudo systemctl start usbmuxd или переподключите iPhone."
                font.pixelSize: 12
                color: Theme.danger
                readOnly: true
                selectByMouse: true
                selectionColor: Theme.textSelection
                wrapMode: TextEdit.Wrap
            }
        }
        RowLayout {
            Layout.fillWidth: true
            Layout.topMargin: 6
            spacing: 8
            Spinner {}
            Text {
                text: "Жду iPhone…"
                font.pixelSize: 12
                color: Theme.secondaryText
            }
            Item { Layout.fillWidth: true }
            PlainButton {
                objectName: "deviceHelpClose"
                focus: true
                text: sheet.waiting ? "Отмена" : "Закрыть"
                onClicked: sheet.dismissed()
            }
        }
    }
}
