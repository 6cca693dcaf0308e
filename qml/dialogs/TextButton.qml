import QtQuick 2.9
import "../components" as Model
import "../logic/Theme.js" as Theme

// A flat button of the dialogs: a rounded box that changes colour under the
// pointer, an optional icon square at its left and a label.
Rectangle {
    id: root

    property color baseColor: Theme.colour("dialogButton", Theme.Dark)
    property color hoverColor: Theme.colour("dialogButtonHover", Theme.Dark)
    property string label: ""
    property int labelSize: 16
    property color labelColor: Theme.colour("dialogButtonText", Theme.Dark)
    property string iconSource: ""
    property int iconSize: 16
    property bool interactive: true
    readonly property bool hovered: pointer.containsMouse

    signal clicked()

    radius: 4
    border.color: Theme.colour("outline", Theme.Dark)
    border.width: 1
    color: root.interactive && pointer.containsMouse ? root.hoverColor : root.baseColor

    Item {
        id: iconSquare
        width: root.iconSource === "" ? 0 : root.height
        height: root.height
        visible: root.iconSource !== ""
        Image {
            anchors.centerIn: parent
            width: root.iconSize
            height: root.iconSize
            source: root.iconSource
            fillMode: Image.PreserveAspectFit
        }
    }

    Model.MText {
        objectName: "buttonLabel"
        anchors.left: iconSquare.right
        anchors.right: parent.right
        anchors.rightMargin: iconSquare.width > 0 ? 8 : 0
        height: parent.height
        mText: root.label
        mtextSize: root.labelSize
        mcolor: root.labelColor
        mfont: "qrc:/font/Kanit-Regular.ttf"
    }

    MouseArea {
        id: pointer
        objectName: "pointer"
        anchors.fill: parent
        enabled: root.interactive
        hoverEnabled: root.interactive
        cursorShape: root.interactive ? Qt.PointingHandCursor : Qt.ArrowCursor
        onClicked: root.clicked()
    }

    Model.KeyControl {
        name: root.label
        enabled: root.interactive
        ringRadius: root.radius
        onActivated: root.clicked()
    }
}
