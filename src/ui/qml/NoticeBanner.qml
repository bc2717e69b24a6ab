import QtQuick
import QtQuick.Layouts
import Telmora

// One-off results of workflows, at most two selectable lines; closing it clears the notice.
Item {
    id: banner

    readonly property string message: Store.notice !== undefined ? Store.notice : ""

    objectName: "noticeBanner"
    visible: message !== ""
    implicitHeight: row.implicitHeight + 28

    Shadow {
        anchors.fill: parent
        radius: 10
        spread: 8
    }
    Rectangle {
        anchors.fill: parent
        radius: 10
        color: Theme.raisedSurface
        border.color: Theme.separator
    }

    RowLayout {
        id: row
        anchors.fill: parent
        anchors.margins: 14
        spacing: 10

        Rectangle {
            Layout.alignment: Qt.AlignTop
            implicitWidth: 4
            implicitHeight: Math.max(16, text.height)
            radius: 2
            color: Theme.apricot
        }
        Item {
            Layout.fillWidth: true
            implicitHeight: Math.min(text.contentHeight, text.twoLines)
            clip: true

            TextEdit {
                id: text
                objectName: "noticeText"
                // Two lines of this font; longer notices are cut there.
                readonly property real twoLines: Math.ceil(2 * fontMetrics.lineSpacing)
                width: parent.width
                readOnly: true
                selectByMouse: true
                selectByKeyboard: true
                wrapMode: TextEdit.Wrap
                text: banner.message
                color: Theme.text
                selectionColor: Theme.textSelection
                selectedTextColor: Theme.text
                font.pixelSize: 13
                Accessible.name: banner.message

                FontMetrics {
                    id: fontMetrics
                    font: text.font
                }
            }
        }
        IconButton {
            objectName: "closeNotice"
            Layout.alignment: Qt.AlignTop
            symbol: "xmark"
            Accessible.name: "Закрыть уведомление"
            onClicked: Store.notice = undefined
        }
    }
}
