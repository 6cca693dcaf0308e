import QtQuick 2.9
import "../components" as Model

// A rounded button of the fan panel. Its colour is set by the panel, which
// decides what is selected and what the theme is.
Rectangle {
    id: root

    property string label: ""
    property int labelSize: 14
    property color labelColour: "#E2E2E2"
    property bool usable: true
    readonly property bool hovered: pointer.containsMouse

    signal clicked()
    signal entered()
    signal exited()

    height: 30
    border.width: 1

    Model.MText {
        objectName: "buttonLabel"
        anchors.fill: parent
        mText: root.label
        mtextSize: root.labelSize
        mcolor: root.labelColour
        mfont: "qrc:/font/Kanit-Regular.ttf"
    }

    MouseArea {
        id: pointer
        anchors.fill: parent
        enabled: root.usable
        hoverEnabled: root.usable
        cursorShape: root.usable ? Qt.PointingHandCursor : Qt.ArrowCursor
        onClicked: root.clicked()
        onEntered: root.entered()
        onExited: root.exited()
    }
}
