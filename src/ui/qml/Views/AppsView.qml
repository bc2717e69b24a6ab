import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Telmora

// The apps screen: the catalog as a grid, filtered as the user types; the store search on
// request, as a list.
FocusScope {
    id: view

    property bool showResults: false

    function focusSearch(): void {
        search.focusField()
    }
    function submit(): void {
        if (Actions.submitSearch())
            view.showResults = true
    }

    objectName: "appsView"

    readonly property AppListModel catalog: AppListModel {
        store: Store
        source: AppListModel.Catalog
        filter: Store.query
    }
    readonly property AppListModel results: AppListModel {
        store: Store
        source: AppListModel.Results
    }
    Connections {
        target: Store
        // Editing the text goes back to the catalog, filtered by it.
        function onQueryChanged() {
            view.showResults = false
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        SectionHeader {
            Layout.fillWidth: true
            title: "Приложения"
            subtitle: "Любая версия приложения, доступного на вашем аккаунте Apple"

            PlainButton {
                objectName: "clearSelection"
                visible: view.catalog.selectionCount > 0
                text: "Снять выбор"
                onClicked: view.catalog.clearSelection()
            }
            BrandButton {
                objectName: "catalogBulkButton"
                visible: view.catalog.selectionCount > 0
                text: Labels.bulkText(view.catalog.selectionCount, Store.readyDevice !== undefined)
                onClicked: {
                    Actions.getOrInstall(view.catalog.selectedApps())
                    view.catalog.clearSelection()
                }
            }
        }
        SearchBar {
            id: search
            focus: true
            Layout.fillWidth: true
            Layout.leftMargin: 22
            Layout.rightMargin: 22
            Layout.bottomMargin: 10
            onSubmitted: view.submit()
        }
        Text {
            objectName: "searchError"
            Layout.fillWidth: true
            Layout.leftMargin: 24
            Layout.rightMargin: 22
            Layout.bottomMargin: 8
            visible: view.showResults && Store.searchError !== undefined
            text: Store.searchError !== undefined ? Store.searchError : ""
            font.pixelSize: Theme.calloutSize
            color: Theme.secondaryText
            wrapMode: Text.Wrap
        }
        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true

            CatalogGrid {
                anchors.fill: parent
                visible: !view.showResults
                model: view.catalog
                heading: Labels.isBlank(Store.query) ? "Популярные" : "В каталоге"
            }
            Spinner {
                objectName: "searchSpinner"
                anchors.centerIn: parent
                visible: view.showResults && Store.searching
                size: 24
            }
            EmptyState {
                objectName: "noResults"
                anchors.fill: parent
                visible: view.showResults && !Store.searching && view.results.count === 0
                symbol: "magnifyingglass"
                title: "Ничего не нашлось"
                description: "Проверьте написание или вставьте ID приложения из ссылки App Store."
            }
            AppList {
                objectName: "resultsList"
                anchors.fill: parent
                visible: view.showResults && !Store.searching && view.results.count > 0
                model: view.results
            }
        }
    }
}
