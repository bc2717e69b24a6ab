import QtQuick
import QtQuick.Window
import Telmora

// A symbol of the design, drawn from the bundled icon set in one colour.
Image {
    id: icon

    property string symbol: ""
    property color color: Theme.text
    property int size: 16

    width: size
    height: size
    sourceSize.width: Math.ceil(size * Screen.devicePixelRatio)
    sourceSize.height: Math.ceil(size * Screen.devicePixelRatio)
    source: symbol !== "" ? "image://tint/" + Theme.hex(color) + "/symbol/" + symbol : ""
    fillMode: Image.PreserveAspectFit
    smooth: true
    Accessible.ignored: true
}
