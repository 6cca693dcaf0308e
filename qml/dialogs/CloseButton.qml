import QtQuick 2.9
import "../components" as Model
import "../logic/Theme.js" as Theme

// The way out of a notice or dialog: a light cross on a dark square, readable
// on either theme's frame.
Rectangle {
    id: root
    width: 32
    height: 32
    radius: 4
    color: Theme.colour("closeButton", Theme.Dark)

    signal clicked()

    Image {
        anchors.fill: parent
        source: "qrc:/icon/X.png"
        fillMode: Image.PreserveAspectFit
    }

    MouseArea {
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: root.clicked()
    }

    Model.KeyControl {
        name: "Close"
        onActivated: root.clicked()
    }
}
