pragma Singleton
import QtQuick
import Telmora

// The brand's colours and the interface's metrics. Every colour has a light and a dark value
// and is read through a binding, so a change of appearance redraws without rebuilding views.
QtObject {
    readonly property bool dark: Desktop.dark

    function pick(light: color, darkValue: color): color {
        return dark ? darkValue : light
    }
    // A colour as the icon provider takes it: hex digits, alpha first when not opaque.
    function hex(value: color): string {
        return String(value).substring(1)
    }

    // Brand palette
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

    // Surfaces and text
    readonly property color windowBackground: pick("#FCFBFA", "#1B1C1F")
    readonly property color sidebarBackground: pick("#F4F0EB", "#232428")
    readonly property color surface: pick("#FFFFFF", "#2A2C31")
    readonly property color raisedSurface: pick("#FFFFFF", "#32343A")
    readonly property color text: pick("#1D1D1F", "#ECECEE")
    readonly property color secondaryText: pick("#6B6B70", "#A3A3A9")
    readonly property color placeholderText: pick("#9A9AA0", "#75757C")
    readonly property color separator: pick("#E7E2DC", "#34363B")
    readonly property color fieldBackground: pick("#FFFFFF", "#26282C")
    readonly property color fieldBorder: pick("#D9D3CC", "#43454B")
    readonly property color controlFill: pick("#EFEBE6", "#393B41")
    readonly property color controlFillHover: pick("#E6E1DB", "#43464C")
    readonly property color controlFillPressed: pick("#DCD6CF", "#4D5057")
    readonly property color hoverFill: pick(Qt.rgba(0, 0, 0, 0.045), Qt.rgba(1, 1, 1, 0.06))
    readonly property color tileHover: pick(Qt.rgba(0, 0, 0, 0.05), Qt.rgba(1, 1, 1, 0.05))
    readonly property color sidebarSelection: pick("#E9E0D5", "#3A342D")
    // Selected rows: a neutral fill, so the tinted buttons on them stay visible.
    readonly property color listSelection: pick("#ECE6DF", "#34363C")
    readonly property color focusRing: pick("#E08A2C", "#F7A94F")
    readonly property color textSelection: pick("#FBD3A6", "#6A4A22")
    readonly property color shadow: Qt.rgba(0, 0, 0, 0.14)
    readonly property color scrim: pick(Qt.rgba(0.1, 0.08, 0.05, 0.28), Qt.rgba(0, 0, 0, 0.5))
    readonly property color badgeFill: pick("#E2D8CC", "#4A4237")

    // Type sizes, in device-independent pixels
    readonly property int bodySize: 13
    readonly property int calloutSize: 12
    readonly property int captionSize: 11
    readonly property int headingSize: 12
    readonly property int titleSize: 22
    readonly property int sheetTitleSize: 20

    // Metrics
    readonly property int controlRadius: 7
    readonly property int fieldRadius: 8
    readonly property int cardRadius: 12
    readonly property int fieldHeight: 30
    readonly property int focusWidth: 2
    readonly property int pressDuration: 120
}
