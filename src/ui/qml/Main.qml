import QtQuick
import QtQuick.Controls
import Telmora

// The one window. The credit line is its title; the application's commands are shortcuts
// here and entries of the menu at the top of the sidebar.
ApplicationWindow {
    id: window

    objectName: "mainWindow"
    width: 1120
    height: 720
    minimumWidth: 880
    minimumHeight: 560
    visible: true
    title: "Telmora — от telmora.app"
    color: Theme.windowBackground
    font.pixelSize: Theme.bodySize

    // What the controls not drawn by the brand itself use: the shared tooltip, selections.
    palette.window: Theme.windowBackground
    palette.windowText: Theme.text
    palette.base: Theme.fieldBackground
    palette.text: Theme.text
    palette.button: Theme.controlFill
    palette.buttonText: Theme.text
    palette.highlight: Theme.apricot
    palette.highlightedText: Theme.onApricot
    palette.placeholderText: Theme.placeholderText
    palette.toolTipBase: Theme.raisedSurface
    palette.toolTipText: Theme.text
    palette.link: Theme.apricotInk
    palette.mid: Theme.separator
    palette.dark: Theme.separator

    Shortcut {
        sequence: "Ctrl+Q"
        context: Qt.ApplicationShortcut
        onActivated: Qt.quit()
    }
    Shortcut {
        sequence: "Ctrl+1"
        onActivated: root.section = RootView.Apps
    }
    Shortcut {
        sequence: "Ctrl+2"
        onActivated: root.section = RootView.Purchases
    }
    Shortcut {
        sequence: "Ctrl+3"
        onActivated: root.section = RootView.Downloads
    }
    Shortcut {
        sequence: "Ctrl+F"
        onActivated: root.focusSearch()
    }

    RootView {
        id: root
        anchors.fill: parent
        focus: true
    }
}
