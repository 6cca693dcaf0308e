import QtQuick 2.9
import "../components" as Model
import "../logic/Theme.js" as Theme

// Tells the user that the card did not take a lighting or fan command.
Rectangle {
    id: root
    width: 389
    height: 115
    radius: 8
    color: Theme.colour("noticeGround", Theme.Dark)
    border.color: Theme.colour("outline", Theme.Dark)
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
        mcolor: Theme.colour("noticeText", Theme.Dark)
        mfont: "qrc:/font/Kanit-Regular.ttf"
    }

    Model.MTextLeft {
        x: 95
        y: 65
        width: textWidth
        height: textHeight
        mText: "Please Try Again"
        mtextSize: 16
        mcolor: Theme.colour("noticeText", Theme.Dark)
        mfont: "qrc:/font/Kanit-Regular.ttf"
    }
}
