import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Telmora
import Telmora.Model

// One-line results of workflows; closing it clears the Store's notice.
Rectangle {
    id: banner
    objectName: "noticeBanner"
    visible: Store.notice !== undefined && Store.notice !== ""
    implicitHeight: row.implicitHeight + 28
    radius: 10
    color: Theme.dark ? "#2E3036" : "#FFFFFF"
    border.color: Theme.separator

    RowLayout {
        id: row
        anchors.fill: parent
        anchors.margins: 14
        spacing: 10

        TextEdit {
            objectName: "noticeText"
            Layout.fillWidth: true
            readOnly: true
            selectByMouse: true
            wrapMode: TextEdit.Wrap
            text: Store.notice !== undefined ? Store.notice : ""
            color: Theme.text
            font.pixelSize: 13
            clip: true
            Layout.maximumHeight: 2 * (font.pixelSize * 1.4)
        }
        ToolButton {
            objectName: "closeNotice"
            text: "✕"
            Accessible.name: "Закрыть уведомление"
            onClicked: Store.notice = undefined
        }
    }
}
