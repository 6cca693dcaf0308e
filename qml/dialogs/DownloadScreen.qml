import QtQuick 2.9
import "../components" as Model
import "../logic/Theme.js" as Theme

// Covers the whole window while an update downloads. If the download stalls or
// ends short of complete, the screen offers a way back to the pages.
Rectangle {
    id: root
    visible: false
    color: Theme.colour("downloadBackground", root.displayMode)

    property int displayMode: Theme.Dark
    property string percent: "0"
    // Set when the worker reports a failure; it takes the place of the percent.
    property string failureText: ""
    readonly property bool wayBackOffered: wayBack.visible

    signal backRequested()

    function startAnimation() {
        animation.source = Theme.colour("loadingAnimation", root.displayMode);
        animation.playing = true;
    }

    function stopAnimation() {
        animation.playing = false;
        animation.source = "";
    }

    function offerWayBack(show) {
        wayBack.visible = show;
        if (!show)
            failureText = "";
    }

    function showFailure(text) {
        stopAnimation();
        failureText = text;
        wayBack.visible = true;
    }

    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.AllButtons
        hoverEnabled: true
        onWheel: wheel.accepted = true
    }

    Item {
        id: box
        width: 300
        height: 135
        anchors.centerIn: parent

        AnimatedImage {
            id: animation
            objectName: "downloadAnimation"
            width: 300
            height: 100
            fillMode: Image.PreserveAspectFit
            playing: false
        }

        Model.MText {
            objectName: "downloadText"
            width: Math.max(parent.width, textWidth)
            anchors.horizontalCenter: parent.horizontalCenter
            height: 35
            anchors.bottom: parent.bottom
            mText: root.failureText !== "" ? root.failureText : "Downloading " + root.percent + "%"
            mtextSize: 14
            mfontBold: true
            mcolor: Theme.colour("downloadText", root.displayMode)
            mfont: "qrc:/font/Kanit-Regular.ttf"
        }
    }

    Column {
        id: wayBack
        objectName: "downloadWayBack"
        visible: false
        anchors.top: box.bottom
        anchors.topMargin: 24
        anchors.horizontalCenter: parent.horizontalCenter
        spacing: 12

        Model.MText {
            anchors.horizontalCenter: parent.horizontalCenter
            width: textWidth
            height: textHeight
            visible: root.failureText === ""
            mText: "The download did not finish."
            mtextSize: 14
            mcolor: Theme.colour("downloadText", root.displayMode)
            mfont: "qrc:/font/Kanit-Regular.ttf"
        }

        TextButton {
            objectName: "downloadBackButton"
            anchors.horizontalCenter: parent.horizontalCenter
            width: 110
            height: 36
            baseColor: Theme.colour("dialogButton", root.displayMode)
            hoverColor: Theme.colour("dialogButtonHover", root.displayMode)
            label: "Back"
            onClicked: root.backRequested()
        }
    }
}
