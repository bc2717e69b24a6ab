pragma Singleton
import QtQuick

// The brand colours, each with a light and a dark value resolved at drawing time.
QtObject {
    id: theme

    readonly property SystemPalette system: SystemPalette { colorGroup: SystemPalette.Active }
    // Qt 6.4 has no colour-scheme hint: a dark window background means a dark appearance.
    readonly property bool dark: system.window.hslLightness < 0.5

    function pick(light, darkValue) { return dark ? darkValue : light }

    readonly property color apricot: pick("#F59A3C", "#F7A94F")
    readonly property color apricotHover: pick("#F7A851", "#F9B768")
    readonly property color apricotPressed: pick("#E88C2E", "#EE9B3D")
    readonly property color apricotTint: pick("#FDEBD5", "#3A2A17")
    readonly property color apricotTintHover: pick("#FBDFBE", "#47331B")
    readonly property color apricotInk: pick("#8A4805", "#F9BE7A")
    readonly property color tilePlaceholder: pick("#E4E7EC", "#2B2F38")
    readonly property color danger: pick("#B42318", "#FF9486")
    readonly property color success: pick("#0F7A55", "#5FD3A8")
    readonly property color onApricot: Qt.rgba(36 / 255, 16 / 255, 2 / 255, 1)

    readonly property color windowBackground: pick("#FFFFFF", "#1E1F22")
    readonly property color sidebarBackground: pick("#F4F1EE", "#26272B")
    readonly property color text: pick("#1D1D1F", "#ECECEE")
    readonly property color secondaryText: pick("#6E6E73", "#A1A1A6")
    readonly property color selection: pick("#EDE4DA", "#3A3530")
    readonly property color separator: pick("#E2DDD8", "#34353A")
}
