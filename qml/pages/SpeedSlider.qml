import QtQuick 2.9
import QtQuick.Controls 2.2
import "../logic/Theme.js" as Theme

// The five-step speed slider. The handle travels 180 pixels over the 190-pixel
// track; the track is filled up to the handle.
Slider {
    id: root

    property int displayMode: 0
    readonly property int trackLength: 190
    readonly property int handleSize: 14
    readonly property int handleTravel: 180

    from: 1
    to: 5
    stepSize: 1
    snapMode: Slider.SnapAlways
    value: 3
    padding: 0
    width: handleTravel + handleSize
    height: 20

    background: Rectangle {
        objectName: "speedTrack"
        x: 0
        y: (root.height - height) / 2
        width: root.trackLength
        height: 10
        radius: 10
        color: Theme.colour("sliderTrack", root.displayMode)

        Rectangle {
            objectName: "speedFill"
            width: root.handle.x + root.handleSize / 2
            height: parent.height
            radius: 10
            color: Theme.colour("sliderFill", root.displayMode)
        }
    }

    handle: Rectangle {
        objectName: "speedHandle"
        x: root.visualPosition * root.handleTravel
        y: (root.height - height) / 2
        width: root.handleSize
        height: root.handleSize
        radius: root.handleSize / 2
        color: "#D9D9D9"
        border.color: "#FFFFFF"
        border.width: 1
    }
}
