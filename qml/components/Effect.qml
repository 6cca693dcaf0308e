import QtQuick 2.9
import "../effects" as Effects
import "../logic/Theme.js" as Theme

// The face of one lighting effect button. It takes no input itself; whoever
// places it puts a pointer area inside.
Item {
    id: root
    width: 106
    height: 94

    property color buttonColor: Theme.colour("effectIcon", Theme.Dark)
    property color borderColor: Theme.colour("effectBorder", Theme.Dark)
    property color bgColor: Theme.colour("effectBackground", Theme.Dark)
    property string iconSource: ""
    property string labelText: ""
    property string textColor: Theme.colour("text", Theme.Dark)
    property int borderWidth: 1

    readonly property real backgroundOpacity: 0.1

    Rectangle {
        id: background
        objectName: "background"
        anchors.fill: parent
        color: root.bgColor
        border.color: root.borderColor
        border.width: root.borderWidth
        radius: 4
        opacity: root.backgroundOpacity
    }

    Image {
        id: icon
        objectName: "icon"
        width: 60
        height: 55
        y: 10
        anchors.horizontalCenter: parent.horizontalCenter
        source: root.iconSource
        sourceSize: Qt.size(width, height)
        fillMode: Image.PreserveAspectFit
        smooth: true
        visible: false   // drawn through the tint below
    }

    Effects.Tint {
        id: tint
        objectName: "tint"
        anchors.fill: icon
        source: icon
        color: root.buttonColor
    }

    MText {
        id: label
        objectName: "caption"
        width: 88
        height: 18
        y: 65
        anchors.horizontalCenter: parent.horizontalCenter
        mText: root.labelText
        mtextSize: 14
        mcolor: root.textColor
        mfont: "qrc:/font/Kanit-Regular.ttf"
    }
}
