import QtQuick 2.9
import "../logic/Theme.js" as Theme

// A label hung from its box's top-left corner. It has no width of its own, so
// lines break only where the text has line breaks.
Item {
    id: root
    width: 66
    height: 19

    property string mText: "RGB Effect"
    property int mtextSize: 16
    property color mcolor: Theme.colour("label", Theme.Dark)
    property string mfont: "qrc:/font/Kanit-Regular.ttf"
    property bool mfontBold: false
    property bool mfontItalic: false

    readonly property real textWidth: label.implicitWidth
    readonly property real textHeight: label.implicitHeight

    FontLoader {
        id: fontLoader
        source: root.mfont
    }

    Text {
        id: label
        objectName: "label"
        anchors.left: parent.left
        anchors.top: parent.top
        text: qsTr(root.mText)
        color: root.mcolor
        wrapMode: Text.Wrap
        font.family: fontLoader.name
        font.pixelSize: root.mtextSize
        font.bold: root.mfontBold
        font.italic: root.mfontItalic
    }
}
