import QtQuick 2.9
import "../components" as Model
import "../logic/Theme.js" as Theme

// A panel of a page: the theme's frame picture stretched to the panel's size,
// and its title at x 40.
Item {
    id: root

    property int displayMode: 0
    property string title: ""
    property int titleY: 20
    property int titleSize: 20
    property color titleColour: Theme.colour("text", root.displayMode)
    readonly property real titleWidth: titleText.textWidth
    readonly property alias titleItem: titleText

    Model.VisibleImage {
        id: frame
        objectName: "panelFrame"
        anchors.fill: parent
        picture: Theme.colour("frame", root.displayMode)
        sourceSize: Qt.size(root.width, root.height)
        smooth: true
    }

    Model.MTextLeft {
        id: titleText
        visible: root.title !== ""
        x: 40
        y: root.titleY
        width: textWidth
        height: textHeight
        mText: root.title
        mtextSize: root.titleSize
        mcolor: root.titleColour
        mfont: "qrc:/font/Kanit-Regular.ttf"
    }
}
