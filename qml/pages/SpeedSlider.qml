import QtQuick 2.9
import "../components" as Model
import "../logic/Theme.js" as Theme

// The five-step speed slider. The handle travels 180 pixels over the 190-pixel
// track; the track is filled up to the handle. Dragging moves the handle from
// step to step, a click puts it on the nearest step when the button comes up,
// and the arrow keys step it once it has the keyboard (a click or Tab).
Item {
    id: root

    property int displayMode: 0
    property real value: 3
    readonly property int from: 1
    readonly property int to: 5
    readonly property int trackLength: 190
    readonly property int handleSize: 14
    readonly property int handleTravel: 180
    readonly property real visualPosition: (root.value - root.from) / (root.to - root.from)
    // What a screen reader reads: the numbers under the names it looks for.
    readonly property int minimumValue: from
    readonly property int maximumValue: to
    readonly property int stepSize: 1
    readonly property var stepNames: ["Slow", "Slower than medium", "Medium", "Faster than medium", "Fast"]

    width: handleTravel + handleSize
    height: 20
    activeFocusOnTab: true
    Accessible.role: Accessible.Slider
    Accessible.name: "Speed"
    Accessible.description: stepNames[Math.round(value) - from] || ""
    Accessible.focusable: true
    Accessible.focused: activeFocus
    Accessible.onIncreaseAction: stepBy(1)
    Accessible.onDecreaseAction: stepBy(-1)

    // The step nearest to a point on the slider, the handle's centre under it.
    function stepAt(x) {
        var position = Math.max(0, Math.min(1, (x - root.handleSize / 2) / root.handleTravel));
        return root.from + Math.round(position * (root.to - root.from));
    }

    function stepBy(steps) {
        root.value = Math.max(root.from, Math.min(root.to, Math.round(root.value) + steps));
    }

    Rectangle {
        objectName: "speedTrack"
        x: 0
        y: (root.height - height) / 2
        width: root.trackLength
        height: 10
        radius: 10
        color: Theme.colour("sliderTrack", root.displayMode)

        Rectangle {
            objectName: "speedFill"
            width: handle.x + root.handleSize / 2
            height: parent.height
            radius: 10
            color: Theme.colour("sliderFill", root.displayMode)
        }
    }

    Rectangle {
        id: handle
        objectName: "speedHandle"
        x: root.visualPosition * root.handleTravel
        y: (root.height - height) / 2
        width: root.handleSize
        height: root.handleSize
        radius: root.handleSize / 2
        color: Theme.colour("sliderHandle", root.displayMode)
        border.color: Theme.colour("sliderHandleBorder", root.displayMode)
        border.width: 1
    }

    MouseArea {
        id: pointer
        anchors.fill: parent
        preventStealing: true
        onPressed: root.forceActiveFocus()
        onPositionChanged: root.value = root.stepAt(mouse.x)
        onReleased: root.value = root.stepAt(mouse.x)
    }

    Keys.onLeftPressed: root.stepBy(-1)
    Keys.onRightPressed: root.stepBy(1)
    Keys.onDownPressed: root.stepBy(-1)
    Keys.onUpPressed: root.stepBy(1)

    Model.FocusRing {
        visible: root.activeFocus
        radius: 10
        mode: root.displayMode
    }
}
