import QtQuick 2.9
import "../logic/Theme.js" as Theme

// A label centred in its box. A text with line breaks stays one block whose
// lines start at the same left edge; the block as a whole is centred.
Item {
    id: root
    width: 66
    height: 19

    property string mText: "RGB Effect"
    property int mtextSize: 16
    property color mcolor: Theme.colour("label", Theme.Dark)
    property string mfont: "qrc:/font/Kanit-Regular.ttf"
    property bool mfontBold: false

    // Measured size of the drawn text, for neighbours that sit beside it.
    readonly property real textWidth: label.implicitWidth
    readonly property real textHeight: label.implicitHeight

    FontLoader {
        id: fontLoader
        source: root.mfont
    }

    Text {
        id: label
        objectName: "label"
        anchors.centerIn: parent
        text: qsTr(root.mText)
        color: root.mcolor
        font.family: fontLoader.name
        font.pixelSize: root.mtextSize
        font.bold: root.mfontBold
        horizontalAlignment: Text.AlignLeft
    }
}
