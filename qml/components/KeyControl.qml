import QtQuick 2.9
import QtQuick.Window 2.2
import "../logic/Theme.js" as Theme

// Placed inside a control and filling it: the control can then be reached with
// Tab, shows a focus ring while it has the keyboard, is worked with Space or
// Enter, and is named to screen readers. A control made of plain items gets
// all of that from this one child.
Item {
    id: root
    anchors.fill: parent

    property int role: Accessible.Button
    property string name: ""
    property string description: ""
    property bool checkable: false
    property bool checked: false
    // Arrow keys report a step (dx, dy) instead of going on to the parent.
    property bool takesArrows: false
    property real ringRadius: 4

    signal activated()
    signal arrow(int dx, int dy)

    readonly property int themeMode: Window.window && Window.window.displayMode !== undefined
                                     ? Window.window.displayMode : Theme.Dark

    activeFocusOnTab: enabled && visible
    Accessible.role: root.role
    Accessible.name: root.name
    Accessible.description: root.description
    Accessible.checkable: root.checkable
    Accessible.checked: root.checked
    Accessible.focusable: true
    Accessible.focused: root.activeFocus
    Accessible.onPressAction: root.activated()
    Accessible.onToggleAction: root.activated()

    Keys.onPressed: {
        var steps = {};
        steps[Qt.Key_Left] = [-1, 0];
        steps[Qt.Key_Right] = [1, 0];
        steps[Qt.Key_Up] = [0, -1];
        steps[Qt.Key_Down] = [0, 1];
        if (event.key === Qt.Key_Space || event.key === Qt.Key_Return || event.key === Qt.Key_Enter) {
            if (!event.isAutoRepeat)
                root.activated();
            event.accepted = true;
        } else if (root.takesArrows && steps[event.key] !== undefined) {
            root.arrow(steps[event.key][0], steps[event.key][1]);
            event.accepted = true;
        }
    }

    FocusRing {
        visible: root.activeFocus
        radius: root.ringRadius
        mode: root.themeMode
    }
}
