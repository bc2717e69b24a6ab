import QtQuick
import QtQuick.Layouts
import Telmora

// This sheet's place in the root view; Escape or "Закрыть" closes it.
FocusScope {
    id: sheet

    signal dismissed()

    objectName: "updateSheetPlace"
    implicitWidth: 420
    implicitHeight: column.implicitHeight + 48
    focus: true

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: 24
        spacing: 16

        Text {
            text: "Обновление Telmora"
            font.pixelSize: Theme.sheetTitleSize
            font.weight: Font.DemiBold
            color: Theme.text
        }
        PlainButton {
            Layout.alignment: Qt.AlignRight
            text: "Закрыть"
            focus: true
            onClicked: sheet.dismissed()
        }
    }
}
