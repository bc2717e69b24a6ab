import QtQuick
import QtQuick.Layouts
import Telmora

// A screen's title and subtitle, with its actions on the trailing side.
RowLayout {
    id: header

    property string title: ""
    property string subtitle: ""
    default property alias actions: trailing.data

    spacing: 16

    ColumnLayout {
        Layout.leftMargin: 22
        Layout.topMargin: 14
        Layout.bottomMargin: 12
        Layout.fillWidth: true
        spacing: 3

        Text {
            objectName: "sectionTitle"
            text: header.title
            font.pixelSize: Theme.titleSize
            font.weight: Font.DemiBold
            color: Theme.text
            Accessible.role: Accessible.Heading
        }
        Text {
            Layout.fillWidth: true
            visible: header.subtitle !== ""
            text: header.subtitle
            font.pixelSize: Theme.calloutSize
            color: Theme.secondaryText
            elide: Text.ElideRight
        }
    }
    RowLayout {
        id: trailing
        Layout.rightMargin: 22
        Layout.topMargin: 14
        Layout.bottomMargin: 12
        spacing: 8
    }
}
