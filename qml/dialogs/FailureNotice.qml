import QtQuick 2.9
import "../components" as Model

// Tells the user that the card did not take a lighting or fan command.
Rectangle {
    id: root
    width: 389
    height: 115
    radius: 8
    color: "#04142E"
    border.color: "#65657E"
    border.width: 1
    visible: false
    Accessible.role: Accessible.AlertMessage
    Accessible.name: "Action Failed Multiple Times"
    Accessible.description: "Please Try Again"

    signal closeRequested()

    CloseButton {
        objectName: "noticeCloseButton"
        anchors.top: parent.top
        anchors.right: parent.right
        anchors.topMargin: 5
        anchors.rightMargin: 5
        onClicked: root.closeRequested()
    }

    Image {
        id: attention
        x: 45
        y: 32
        width: 32
        height: 32
        source: "qrc:/icon/attention_icon.png"
        fillMode: Image.PreserveAspectFit
    }

    Model.MTextLeft {
        x: attention.x + 50
        anchors.verticalCenter: attention.verticalCenter
        width: textWidth
        height: textHeight
        mText: "Action Failed Multiple Times"
        mtextSize: 18
        mfontBold: true
        mcolor: "#E2E2E2"
        mfont: "qrc:/font/Kanit-Regular.ttf"
    }

    Model.MTextLeft {
        x: 95
        y: 65
        width: textWidth
        height: textHeight
        mText: "Please Try Again"
        mtextSize: 16
        mcolor: "#E2E2E2"
        mfont: "qrc:/font/Kanit-Regular.ttf"
    }
}
