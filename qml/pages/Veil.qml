import QtQuick 2.9
import "../logic/Theme.js" as Theme

// Covers a control that cannot be used right now and swallows every pointer
// event aimed at it.
Rectangle {
    id: root
    property int displayMode: 0
    color: Theme.colour("veil", root.displayMode)
    opacity: 0.7
    visible: false

    MouseArea {
        anchors.fill: parent
        hoverEnabled: true
        acceptedButtons: Qt.AllButtons
        preventStealing: true
        onWheel: wheel.accepted = true
    }
}
