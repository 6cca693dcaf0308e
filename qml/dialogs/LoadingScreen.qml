import QtQuick 2.9
import "../logic/Theme.js" as Theme

// Covers the window until the worker has reported once.
Rectangle {
    id: root
    color: Theme.colour("loadingBackground", Theme.Dark)

    property alias playing: animation.playing

    function stop() {
        animation.playing = false;
    }

    AnimatedImage {
        id: animation
        objectName: "loadingAnimation"
        width: 300
        height: 100
        anchors.centerIn: parent
        source: "qrc:/icon/d_Tarvell Loading Anim_0409.gif"
        fillMode: Image.PreserveAspectFit
        playing: true
    }

    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.AllButtons
        hoverEnabled: true
        onWheel: wheel.accepted = true
    }
}
