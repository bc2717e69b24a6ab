pragma ComponentBehavior: Bound
import QtQuick
import Telmora

// The download queue above the list of files, with a heading for each part.
Column {
    id: section

    readonly property JobListModel queue: JobListModel {
        store: Store
    }
    readonly property FileListModel files: FileListModel {
        store: Store
    }

    width: ListView.view ? ListView.view.width : implicitWidth

    ListHeading {
        visible: section.queue.count > 0
        text: "Очередь"
    }
    Repeater {
        model: section.queue
        JobRow {
            width: section.width
        }
    }
    ListHeading {
        visible: section.files.count > 0
        text: "Файлы"
    }
}
