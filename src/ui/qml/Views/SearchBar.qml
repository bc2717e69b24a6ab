import QtQuick
import QtQuick.Layouts
import Telmora

// The store search: a rounded field bound to the Store's query and the "Найти" button.
FocusScope {
    id: bar

    signal submitted()

    function focusField(): void {
        field.forceActiveFocus()
    }

    implicitHeight: layout.implicitHeight

    RowLayout {
        id: layout
        anchors.fill: parent
        spacing: 8

        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 34
            radius: 10
            color: Theme.fieldBackground
            border.width: field.activeFocus ? Theme.focusWidth : 1
            border.color: field.activeFocus ? Theme.focusRing : Theme.fieldBorder

            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: 11
                anchors.rightMargin: 8
                spacing: 8

                Icon {
                    symbol: "magnifyingglass"
                    size: 15
                    color: Theme.secondaryText
                }
                BrandTextField {
                    id: field
                    objectName: "searchField"
                    focus: true
                    Layout.fillWidth: true
                    framed: false
                    placeholderText: "Название приложения или ID через запятую"
                    text: Store.query
                    onTextEdited: Store.query = text
                    onAccepted: bar.submitted()
                }
                IconButton {
                    objectName: "clearSearch"
                    visible: field.text !== ""
                    symbol: "xmark"
                    iconSize: 12
                    implicitWidth: 22
                    implicitHeight: 22
                    Accessible.name: "Очистить"
                    onClicked: {
                        Store.query = ""
                        field.forceActiveFocus()
                    }
                }
            }
        }
        BrandButton {
            objectName: "searchButton"
            implicitHeight: 34
            text: "Найти"
            enabled: !Labels.isBlank(Store.query) && !Store.searching
            onClicked: bar.submitted()
        }
    }
}
