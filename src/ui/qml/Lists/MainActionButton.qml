import QtQuick
import Telmora

// An app's main button as its situation decides: a spinner while it installs, a plain
// button for a secondary step, else the brand button.
Item {
    id: main

    property appItem app
    property appSituation situation
    property bool compact: false
    property bool tabStop: true
    readonly property bool hasAction: situation.action !== undefined
    readonly property string title: Labels.actionTitle(situation, compact)

    implicitWidth: !hasAction ? spinner.implicitWidth : (situation.isPlain ? plain.implicitWidth : brand.implicitWidth)
    implicitHeight: !hasAction ? spinner.implicitHeight : (situation.isPlain ? plain.implicitHeight : brand.implicitHeight)

    Spinner {
        id: spinner
        objectName: "installSpinner"
        anchors.centerIn: parent
        visible: !main.hasAction
        Accessible.name: "Идёт установка"
    }
    BrandButton {
        id: brand
        objectName: "mainAction"
        anchors.centerIn: parent
        visible: main.hasAction && !main.situation.isPlain
        kind: main.compact ? BrandButton.Pill : BrandButton.Tonal
        tabStop: main.tabStop
        text: main.title
        onClicked: Actions.perform(main.situation, main.app)
    }
    PlainButton {
        id: plain
        objectName: "mainActionPlain"
        anchors.centerIn: parent
        visible: main.hasAction && main.situation.isPlain
        small: main.compact
        tabStop: main.tabStop
        text: main.title
        onClicked: Actions.perform(main.situation, main.app)
    }
}
