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

    readonly property string firstLineOfHelp: "     If the issue continues, please update the "
    readonly property string secondLineOfHelp: "latest driver from                               or"
    readonly property string beforeFirstGap: "latest driver from"
    readonly property string throughFirstGap: "latest driver from                               "
    readonly property string throughSecondWord: "latest driver from                               or "

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

    TextMetrics {
        id: beforeGap
        font.family: kanit.name
        font.pixelSize: 16
        text: root.beforeFirstGap
    }
    TextMetrics {
        id: throughGap
        font.family: kanit.name
        font.pixelSize: 16
        text: root.throughFirstGap
    }
    TextMetrics {
        id: throughOr
        font.family: kanit.name
        font.pixelSize: 16
        text: root.throughSecondWord
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

        Model.MTextLeft {
            id: help
            anchors.horizontalCenter: parent.horizontalCenter
            width: textWidth
            height: textHeight
            mText: root.firstLineOfHelp + "\n" + root.secondLineOfHelp
            mtextSize: 16
            mcolor: root.textColour
            mfont: "qrc:/font/Kanit-Regular.ttf"

            // The two links sit in the blanks of the second line.
            Model.MTextLeft {
                id: intelLink
                objectName: "intelLink"
                x: (beforeGap.advanceWidth + throughGap.advanceWidth - textWidth) / 2
                y: help.textHeight / 2
                width: textWidth
                height: textHeight
                mText: "Intel's website"
                mtextSize: 16
                mcolor: root.textColour
                mfont: "qrc:/font/Kanit-Regular.ttf"
                MouseArea {
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: root.openLink(Links.intelDriverPage)
                }
                Model.KeyControl {
                    role: Accessible.Link
                    name: "Intel's website"
                    onActivated: root.openLink(Links.intelDriverPage)
                }
            }

            Model.MTextLeft {
                objectName: "contactLink"
                x: throughOr.advanceWidth
                y: help.textHeight / 2
                width: textWidth
                height: textHeight
                mText: "contact us."
                mtextSize: 16
                mcolor: root.textColour
                mfont: "qrc:/font/Kanit-Regular.ttf"
                MouseArea {
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: root.openLink(Links.makerFaqPage)
                }
                Model.KeyControl {
                    role: Accessible.Link
                    name: "contact us"
                    onActivated: root.openLink(Links.makerFaqPage)
                }
            }
        }
    }
}
