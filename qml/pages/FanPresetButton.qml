import QtQuick 2.9
import "../components" as Model
import "../logic/Theme.js" as Theme

// A rounded button of the fan panel. Its colour is set by the panel, which
// decides what is selected and what the theme is.
Rectangle {
    id: root

    property string label: ""
    property int labelSize: 14
    property color labelColour: Theme.colour("text", Theme.Dark)
    property bool usable: true
    // A preset is one choice of several; "Apply" is a plain button.
    property bool choice: false
    property bool chosen: false
    // Arrow keys step to the neighbouring choice.
    signal arrow(int step)
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

    function takeFocus() {
        keys.forceActiveFocus(Qt.TabFocusReason);
    }

    Model.KeyControl {
        id: keys
        role: root.choice ? Accessible.RadioButton : Accessible.Button
        name: root.label
        checkable: root.choice
        checked: root.chosen
        enabled: root.usable
        takesArrows: root.choice
        ringRadius: root.radius
        onActivated: root.clicked()
        onArrow: root.arrow(dx + dy)
    }
}
