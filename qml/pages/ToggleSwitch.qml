import QtQuick 2.9
import "../components" as Model
import "../logic/Theme.js" as Theme

// The on/off switch of the lighting page. Only a click by the user reports a
// change; setting `checked` from code changes the look and nothing else.
Item {
    id: root
    width: 40
    height: 20

    property bool checked: true
    property int displayMode: 0
    property string accessibleName: ""

    signal toggledByUser(bool on)

    readonly property int knobSize: 18

    Rectangle {
        id: track
        objectName: "track"
        anchors.fill: parent
        radius: 10
        color: Theme.colour("switchTrack", root.displayMode)
    }

    Rectangle {
        id: knob
        objectName: "knob"
        width: root.knobSize
        height: root.knobSize
        radius: root.knobSize / 2
        y: (root.height - height) / 2
        x: root.checked ? root.width - width - 1 : 1
        color: root.checked ? Theme.colour("switchKnobOn", root.displayMode)
                            : Theme.colour("switchKnobOff", root.displayMode)
    }

    MouseArea {
        id: pointer
        objectName: "pointer"
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: root.toggle()
    }

    function toggle() {
        root.checked = !root.checked;
        root.toggledByUser(root.checked);
    }

    Model.KeyControl {
        role: Accessible.CheckBox
        name: root.accessibleName
        checkable: true
        checked: root.checked
        ringRadius: 12
        onActivated: root.toggle()
    }
}
