import QtQuick 2.9
import "../effects" as Effects
import "../components" as Model
import "../logic/Theme.js" as Theme

// Shown instead of the pages while no supported card is known. "refresh" asks the
// worker to look again; the screen stays busy until the answer comes.
Item {
    id: root
    width: 290
    height: 350
    visible: false

    readonly property bool busy: busyRing.visible
    // The screen's texts and icon: light on the dark theme, the theme's own
    // text colour on the light one, where light grey would vanish.
    property color textColor: Theme.colour("text", Theme.Dark)

    signal refreshRequested()

    function startBusy() {
        busyRing.visible = true;
        busyRing.start();
    }

    function stopBusy() {
        busyRing.stop();
        busyRing.visible = false;
    }

    Model.MText {
        id: heading
        objectName: "noDeviceHeading"
        width: parent.width
        height: 40
        y: 0
        visible: !root.busy
        mText: "No Device detected..."
        mtextSize: 26
        mcolor: root.textColor
        mfont: "qrc:/font/Kanit-Regular.ttf"
    }

    Image {
        id: noDeviceIcon
        objectName: "noDeviceIcon"
        width: 58
        height: 58
        y: heading.y + 100
        anchors.horizontalCenter: parent.horizontalCenter
        source: "qrc:/icon/no_device detected_dark.svg"
        sourceSize: Qt.size(width, height)
        fillMode: Image.PreserveAspectFit
        visible: false   // drawn through the tint below
    }

    Effects.Tint {
        objectName: "noDeviceIconTint"
        anchors.fill: noDeviceIcon
        source: noDeviceIcon
        color: root.textColor
        visible: !root.busy
    }

    BusyRing {
        id: busyRing
        objectName: "busyRing"
        y: 10
        anchors.horizontalCenter: parent.horizontalCenter
        visible: false
    }

    Item {
        id: bottomRow
        width: 290
        height: 36
        anchors.bottom: parent.bottom

        Model.MTextLeft {
            objectName: "cantFindText"
            anchors.left: parent.left
            anchors.verticalCenter: parent.verticalCenter
            height: textHeight
            width: textWidth
            mText: "Can\u2019t find your GPU?"
            mtextSize: 16
            mcolor: root.textColor
            mfont: "qrc:/font/Kanit-Regular.ttf"
        }

        TextButton {
            id: refreshButton
            objectName: "refreshButton"
            width: 110
            height: 36
            anchors.right: parent.right
            baseColor: Theme.colour("dialogButton", Theme.Dark)
            hoverColor: Theme.colour("dialogButtonHover", Theme.Dark)
            label: "refresh"
            iconSource: "qrc:/icon/icon_refresh.png"
            iconSize: 16
            interactive: !root.busy
            opacity: root.busy ? 0.2 : 1.0
            onClicked: root.refreshRequested()
        }
    }
}
