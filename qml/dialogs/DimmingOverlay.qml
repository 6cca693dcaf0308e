import QtQuick 2.9
import "../logic/Theme.js" as Theme

// Darkens the pages behind a notice. While shown, the pages get no input at all.
Rectangle {
    id: root
    color: Theme.colour("dimming", Theme.Dark)
    opacity: 0.9
    visible: false

    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.AllButtons
        hoverEnabled: true
        preventStealing: true
        onWheel: wheel.accepted = true
    }
}
