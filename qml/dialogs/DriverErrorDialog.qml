import QtQuick 2.9
import "../components" as Model
import "../logic/Theme.js" as Theme
import "../logic/Links.js" as Links

// The card's peripheral driver could not be opened although a card is known:
// offer to reinstall the driver, and where to look if that does not help. The
// user may also just close it and carry on: the next card request opens the
// driver afresh.
Item {
    id: root
    width: 860
    height: 480
    visible: false
    Accessible.role: Accessible.Dialog
    Accessible.name: "Control Driver Execution Error"

    property int displayMode: Theme.Dark
    // Why the last set-up attempt did not run; empty until one failed.
    property string setupFailure: ""
    // A kernel driver is bound at the card's address.
    property bool heldByKernelDriver: false

    readonly property color textColour: Theme.colour("text", root.displayMode)

    signal reinstallRequested()
    signal closeRequested()

    function openLink(url) {
        Qt.openUrlExternally(url);
    }

    Rectangle {
        objectName: "dialogGround"
        anchors.fill: parent
        radius: 8
        color: Theme.colour("dialogGround", root.displayMode)
    }

    Model.VisibleImage {
        anchors.fill: parent
        picture: Theme.colour("frame", root.displayMode)
        sourceSize: Qt.size(width, height)
    }

    CloseButton {
        objectName: "dialogCloseButton"
        anchors.top: parent.top
        anchors.right: parent.right
        anchors.topMargin: 5
        anchors.rightMargin: 5
        onClicked: root.closeRequested()
    }

    FontLoader {
        id: kanit
        source: "qrc:/font/Kanit-Regular.ttf"
    }

    Column {
        anchors.horizontalCenter: parent.horizontalCenter
        y: 85
        spacing: 30

        Row {
            anchors.horizontalCenter: parent.horizontalCenter
            spacing: 10
            Image {
                width: 26
                height: 26
                anchors.verticalCenter: parent.verticalCenter
                source: "qrc:/icon/icon_warning_svg.svg"
                sourceSize: Qt.size(width, height)
            }
            Model.MTextLeft {
                objectName: "dialogTitle"
                anchors.verticalCenter: parent.verticalCenter
                width: textWidth
                height: textHeight
                mText: "Control Driver Execution Error"
                mtextSize: 24
                mfontBold: true
                mcolor: Theme.colour("dialogTitle", root.displayMode)
                mfont: "qrc:/font/Kanit-Regular.ttf"
            }
        }

        Model.MTextLeft {
            objectName: "dialogExplanation"
            anchors.horizontalCenter: parent.horizontalCenter
            width: textWidth
            height: textHeight
            mText: root.heldByKernelDriver
                   ? "     A kernel driver holds the card's microcontroller," + "\n"
                     + "so this program leaves the card alone: no lighting or fan."
                   : "     Control driver failed to execute properly. " + "\n"
                     + "Please reinstall driver and restart your PC to fix."
            mtextSize: 16
            mcolor: root.textColour
            mfont: "qrc:/font/Kanit-Regular.ttf"
        }

        TextButton {
            objectName: "reinstallButton"
            anchors.horizontalCenter: parent.horizontalCenter
            width: 142
            height: 35
            baseColor: Theme.colour("dialogButton", root.displayMode)
            hoverColor: Theme.colour("driverButtonHover", root.displayMode)
            label: "Re-install Driver"
            labelSize: 16
            onClicked: root.reinstallRequested()
        }

        Model.MText {
            objectName: "setupFailure"
            anchors.horizontalCenter: parent.horizontalCenter
            visible: root.setupFailure !== ""
            width: textWidth
            height: textHeight
            mText: root.setupFailure
            mtextSize: 14
            mcolor: Theme.colour("dialogWarning", root.displayMode)
            mfont: "qrc:/font/Kanit-Regular.ttf"
        }

        // The links are words of the line itself, so they stay in place
        // whatever the font's widths; each can be reached with Tab.
        Column {
            anchors.horizontalCenter: parent.horizontalCenter

            Model.MTextLeft {
                width: textWidth
                height: textHeight
                mText: "     If the issue continues, please update the "
                mtextSize: 16
                mcolor: root.textColour
                mfont: "qrc:/font/Kanit-Regular.ttf"
            }

            Row {
                Text {
                    text: qsTr("latest driver from ")
                    color: root.textColour
                    font: intelLink.font
                }
                HelpLink {
                    id: intelLink
                    objectName: "intelLink"
                    label: qsTr("Intel's website")
                    url: Links.intelDriverPage
                    color: root.textColour
                    font.family: kanit.name
                    onOpened: root.openLink(url)
                }
                Text {
                    text: qsTr(" or ")
                    color: root.textColour
                    font: intelLink.font
                }
                HelpLink {
                    objectName: "contactLink"
                    label: qsTr("contact us")
                    trailer: "."
                    url: Links.makerFaqPage
                    color: root.textColour
                    font.family: kanit.name
                    onOpened: root.openLink(url)
                }
            }
        }
    }

    // A link drawn as the text around it: no underline, the text's colour.
    // (An inline component sees nothing of this file: all comes in by property.)
    component HelpLink: Text {
        id: helpLink
        property string label
        property string trailer: ""
        property string url
        signal opened(string url)
        // Rich text: styled text would underline the link and knows no way out.
        textFormat: Text.RichText
        text: "<a href=\"" + url + "\" style=\"color: " + color + "; text-decoration: none\">" + label + "</a>" + trailer
        font.pixelSize: 16
        onLinkActivated: helpLink.opened(link)

        MouseArea {
            anchors.fill: parent
            acceptedButtons: Qt.NoButton
            cursorShape: helpLink.hoveredLink !== "" ? Qt.PointingHandCursor : Qt.ArrowCursor
        }
        Model.KeyControl {
            objectName: "keys"
            role: Accessible.Link
            name: helpLink.label
            onActivated: helpLink.opened(helpLink.url)
        }
    }
}
