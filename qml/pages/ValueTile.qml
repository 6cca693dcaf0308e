import QtQuick 2.9
import "../components" as Model
import "../logic/Theme.js" as Theme

// One live reading: caption, value, and its unit hung 5 pixels after the
// value's measured width; optionally the high-temperature warning under it.
Item {
    id: root
    width: 185
    height: 80

    property string caption: ""
    property string value: ""
    property string unit: ""
    property bool warning: false
    property color captionColour: Theme.colour("caption", Theme.Dark)
    property color valueColour: Theme.colour("value", Theme.Dark)
    property string fontFile: "qrc:/font/Kanit-Regular.ttf"
    // What a screen reader says: "GPU temperature 46 degrees".
    property string spokenCaption: caption
    readonly property var spokenUnits: ({ "°C": "degrees", "%": "percent", "MHz": "megahertz", "W": "watts" })

    Accessible.role: Accessible.StaticText
    Accessible.name: spokenCaption + " " + value + " " + (spokenUnits[unit] || unit)
                     + (warning ? ", high temperature" : "")

    // Keeps the text clear of the lines between the tiles.
    property int padding: 16

    readonly property alias valueItem: valueText
    readonly property alias unitItem: unitText
    readonly property alias warningItem: warningRow

    FontLoader {
        id: font
        source: root.fontFile
    }

    Model.MTextLeft {
        id: captionText
        objectName: "caption"
        x: root.padding
        y: 0
        width: textWidth
        height: textHeight
        mText: root.caption
        mtextSize: 20
        mcolor: root.captionColour
        mfont: root.fontFile
    }

    Text {
        id: valueText
        objectName: "value"
        x: root.padding
        anchors.bottom: parent.bottom
        text: root.value
        color: root.warning ? Theme.colour("warningValue", Theme.Dark) : root.valueColour
        font.family: font.name
        font.pixelSize: 40
    }

    Text {
        id: unitText
        objectName: "unit"
        x: valueText.x + valueText.contentWidth + 5
        anchors.baseline: valueText.baseline
        text: qsTr(root.unit)
        color: root.captionColour
        font.family: font.name
        font.pixelSize: 20
    }

    Row {
        id: warningRow
        objectName: "warning"
        visible: root.warning
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: parent.bottom
        anchors.topMargin: 10
        spacing: 6
        Image {
            width: 20
            height: 20
            source: "qrc:/icon/Icon_warning.png"
            fillMode: Image.PreserveAspectFit
        }
        Model.MTextLeft {
            anchors.verticalCenter: parent.verticalCenter
            width: textWidth
            height: textHeight
            mText: "High Temperature"
            mtextSize: 12
            mcolor: root.captionColour
            mfont: root.fontFile
        }
    }
}
