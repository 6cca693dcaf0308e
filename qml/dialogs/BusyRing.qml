import QtQuick 2.9
import "../effects" as Effects
import "../logic/Theme.js" as Theme

// The spinning ring shown while the worker looks for a card again.
Item {
    id: root
    width: 84
    height: 84

    readonly property int turnMs: 300
    readonly property int maxTurns: 300
    readonly property bool running: spin.running

    function start() {
        spinner.rotation = 0;
        spin.restart();
    }

    function stop() {
        spin.stop();
        spinner.rotation = 0;
    }

    Item {
        id: spinner
        anchors.fill: parent

        Rectangle {
            id: ringShape
            anchors.fill: parent
            radius: width / 2
            color: "transparent"
            border.width: 4
            border.color: "white"
            visible: false   // only the mask of the gradient below
        }

        Effects.ConicalShade {
            anchors.fill: parent
            source: ringShape
            gradient: Gradient {
                GradientStop { position: 0.0; color: Theme.colour("busyRingFrom", Theme.Dark) }
                GradientStop { position: 1.0; color: Theme.colour("busyRingTo", Theme.Dark) }
            }
        }

        Rectangle {
            width: 6
            height: 6
            color: Theme.colour("busyRingDot", Theme.Dark)
            anchors.horizontalCenter: parent.horizontalCenter
            y: 0
        }

        RotationAnimator {
            id: spin
            target: spinner
            from: 0
            to: 360
            duration: root.turnMs
            loops: root.maxTurns
        }
    }
}
