import QtQuick
import QtQuick.Layouts
import Telmora

// The signed-in account's purchase history, filterable by name, with refresh commands.
FocusScope {
    id: view

    readonly property bool signedIn: Store.email !== undefined
    readonly property bool hasPurchases: view.purchases.total > 0

    objectName: "purchasesView"

    readonly property AppListModel purchases: AppListModel {
        store: Store
        source: AppListModel.Purchases
        filter: filterField.text
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        SectionHeader {
            Layout.fillWidth: true
            title: "Мои покупки"
            subtitle: "Все приложения аккаунта, в том числе удалённые из App Store"

            Spinner {
                objectName: "purchasesSpinner"
                visible: view.signedIn && view.hasPurchases && Store.purchasesLoading
            }
            PlainButton {
                id: refreshButton
                objectName: "refreshPurchases"
                visible: view.signedIn && view.hasPurchases
                enabled: !Store.purchasesLoading
                text: "Обновить"
                symbol: "arrow.clockwise"
                onClicked: refreshMenu.popup(refreshButton, 0, refreshButton.height + 4)

                BrandMenu {
                    id: refreshMenu
                    implicitWidth: 200
                    BrandMenuItem {
                        objectName: "loadRecent"
                        text: "Новые покупки"
                        onTriggered: Actions.loadPurchases(false)
                    }
                    BrandMenuItem {
                        objectName: "loadFull"
                        text: "Вся история"
                        onTriggered: Actions.loadPurchases(true)
                    }
                }
            }
        }

        BrandTextField {
            id: filterField
            objectName: "purchasesFilter"
            Layout.leftMargin: 22
            Layout.rightMargin: 22
            Layout.bottomMargin: 8
            Layout.preferredWidth: 280
            visible: view.signedIn && view.hasPurchases
            focus: true
            placeholderText: "Фильтр по названию"
            leftPadding: 30

            Icon {
                anchors.left: parent.left
                anchors.leftMargin: 10
                anchors.verticalCenter: parent.verticalCenter
                symbol: "magnifyingglass"
                size: 13
                color: Theme.secondaryText
            }
        }

        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true

            EmptyState {
                objectName: "signInPrompt"
                anchors.fill: parent
                visible: !view.signedIn
                symbol: "person.crop.circle"
                title: "Войдите в аккаунт Apple"
                description: "Здесь будут все приложения этого аккаунта."
                actionText: "Войти"
                onActionTriggered: Actions.beginLogin()
            }
            AppList {
                anchors.fill: parent
                visible: view.signedIn && view.hasPurchases
                model: view.purchases
            }
            Text {
                objectName: "filterEmpty"
                anchors.horizontalCenter: parent.horizontalCenter
                y: 40
                visible: view.signedIn && view.hasPurchases && view.purchases.count === 0
                text: "Нет покупок с таким названием"
                font.pixelSize: 13
                color: Theme.secondaryText
            }
            Column {
                objectName: "purchasesLoading"
                anchors.centerIn: parent
                visible: view.signedIn && !view.hasPurchases && Store.purchasesLoading
                spacing: 12
                Spinner {
                    anchors.horizontalCenter: parent.horizontalCenter
                    size: 24
                }
                Text {
                    text: "Загружаю историю покупок. В первый раз это занимает время."
                    font.pixelSize: 13
                    color: Theme.secondaryText
                }
            }
            EmptyState {
                objectName: "purchasesEmpty"
                anchors.fill: parent
                visible: view.signedIn && !view.hasPurchases && !Store.purchasesLoading
                symbol: "bag"
                title: "История покупок"
                description: Store.purchasesError !== undefined ? Store.purchasesError
                    : "Здесь будут все приложения этого аккаунта, в том числе удалённые из App Store. В первый раз загрузка занимает время."
                actionText: Store.purchasesError !== undefined ? "Попробовать снова" : "Загрузить историю"
                onActionTriggered: Actions.loadPurchases(true)
            }
        }
    }
}
