pragma ComponentBehavior: Bound
import QtQuick
import Telmora

// An app's main button as its situation decides: a spinner while it installs, a plain
// button for a secondary step, else the brand button. Only the one shown is made: a grid
// holds dozens of these.
Item {
    id: main

    property appItem app
    property appSituation situation
    property bool compact: false
    property bool tabStop: true
    readonly property bool hasAction: situation.action !== undefined
    readonly property string title: Labels.actionTitle(situation, compact)
    property Item shown: null

    implicitWidth: shown ? shown.implicitWidth : 0
    implicitHeight: shown ? shown.implicitHeight : 0

    Repeater {
        model: main.hasAction ? 0 : 1
        onItemAdded: (index, item) => main.shown = item
        Spinner {
            objectName: "installSpinner"
            anchors.centerIn: parent
            Accessible.name: "Идёт установка"
        }
    }
    Repeater {
        model: main.hasAction && !main.situation.isPlain ? 1 : 0
        onItemAdded: (index, item) => main.shown = item
        BrandButton {
            objectName: "mainAction"
            anchors.centerIn: parent
            kind: main.compact ? BrandButton.Pill : BrandButton.Tonal
            tabStop: main.tabStop
            text: main.title
            onClicked: Actions.perform(main.situation, main.app)
        }
    }
    Repeater {
        model: main.hasAction && main.situation.isPlain ? 1 : 0
        onItemAdded: (index, item) => main.shown = item
        PlainButton {
            objectName: "mainActionPlain"
            anchors.centerIn: parent
            small: main.compact
            tabStop: main.tabStop
            text: main.title
            onClicked: Actions.perform(main.situation, main.app)
        }
    }
}
