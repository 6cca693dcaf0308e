import QtQuick 2.9
import "../components" as Model
import "../logic/Theme.js" as Theme

// A button of the curve editor: clicked with the mouse, or focused with Tab
// and pressed with Space or Enter.
Rectangle {
    id: root

    property string label: ""
    property int mode: 0
    property bool usable: true
    property bool primary: false

    signal clicked()

    width: 110
    height: 32
    radius: 4
    activeFocusOnTab: usable
    opacity: usable ? 1.0 : 0.45
    color: pointer.containsMouse && usable ? Theme.colour("buttonHover", mode)
         : primary ? Theme.colour("curveSave", mode) : Theme.colour("fanPreset", mode)
    border.width: activeFocus ? 2 : 1
    border.color: activeFocus ? Theme.colour("curveLive", mode) : Theme.colour("caption", mode)

    Accessible.role: Accessible.Button
    Accessible.name: label
    Accessible.onPressAction: press()

    function press() {
        if (usable)
            clicked();
    }

    Keys.onSpacePressed: press()
    Keys.onReturnPressed: press()
    Keys.onEnterPressed: press()

    Model.MText {
        anchors.fill: parent
        mText: root.label
        mtextSize: 14
        mcolor: root.primary ? Theme.colour("curveSaveText", root.mode) : Theme.colour("text", root.mode)
        mfont: "qrc:/font/Kanit-Regular.ttf"
    }

    MouseArea {
        id: pointer
        anchors.fill: parent
        enabled: root.usable
        hoverEnabled: true
        cursorShape: root.usable ? Qt.PointingHandCursor : Qt.ArrowCursor
        onClicked: root.press()
    }
}
