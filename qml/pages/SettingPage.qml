import QtQuick 2.9
import "../components" as Model
import "../logic/Theme.js" as Theme
import "../logic/Links.js" as Links
import "Setting.js" as Setting

// The Setting page: theme switch, OpenRGB SDK server switch, program version,
// update offer and support.
Item {
    id: page
    required property var app
    width: 861
    height: 550

    readonly property int mode: app.displayMode
    readonly property string fontFile: "qrc:/font/Kanit-Regular.ttf"
    readonly property color headingColour: Theme.colour("settingHeading", mode)

    // "Update" takes clicks only while an update is offered and not started.
    property bool updateUsable: false
    property color updateColour: Theme.colour("updateButton", mode)

    // The SDK server: the saved choice until the user flips it, and what the
    // server says of its port.
    property bool openRgbOn: false
    readonly property string openRgbStatus:
        typeof openRgbSdk !== "undefined" && openRgbSdk ? openRgbSdk.statusText : ""

    Connections {
        target: page.app
        ignoreUnknownSignals: true
        function onUserControlDataChanged() {
            page.openRgbOn = Setting.openRgbChosen(page.app.userControlData);
        }
    }

    // ---- what the page offers the window ---------------------------------------------

    function evaluateUpdateOffer(dict) {
        if (!Setting.offersUpdate(dict, app.hasClickUpdate))
            return;
        app.pageSwitch.showUpdateDot(true);
        updateUsable = true;
    }

    function applyTheme() {
        updateColour = Theme.colour("updateButton", app.displayMode);
    }

    // ---- actions ---------------------------------------------------------------------

    function toggleTheme() {
        var next = Setting.nextTheme(app.displayMode);
        app.displayMode = next;
        app.sendRequest(Setting.themeRequest(next));
    }

    function toggleOpenRgb() {
        openRgbOn = !openRgbOn;
        app.sendRequest(Setting.openRgbRequest(openRgbOn));
    }

    // The switch shows the autostart entry as it is on disk: read at start,
    // after each change, and whenever the page or the window comes back, so
    // an entry removed by hand shows as off.
    property bool autoStart: false

    function readAutoStart() {
        autoStart = workerThread.autoStartEnabled();
    }

    function toggleAutoStart() {
        workerThread.setAutoStart(!autoStart);
        readAutoStart();
    }

    Component.onCompleted: readAutoStart()
    onVisibleChanged: if (visible) readAutoStart()

    Connections {
        target: page.app
        function onVisibleChanged() { if (page.app.visible) page.readAutoStart() }
    }


    function startUpdate() {
        app.hasClickUpdate = true;
        app.sendRequest(Setting.updateRequest());
        updateUsable = false;
        updateButton.opacity = Setting.DimmedOpacity;
        app.showDownloadScreen();
    }

    // The user came back from a download that did not happen: the update is
    // offered again as it was before the click.
    function reofferUpdate() {
        app.hasClickUpdate = false;
        updateButton.opacity = 1.0;
        applyTheme();
        evaluateUpdateOffer(app.monitorInfoDict);
    }

    // Every download reply: the button stays out of use while it runs.
    function downloadReplied() {
        updateUsable = false;
        updateColour = Theme.colour("effectBackground", app.displayMode);
    }

    Connections {
        target: page.app
        ignoreUnknownSignals: true
        function onDownloadReply(data) { page.downloadReplied() }
    }

    Model.AutoResize {}

    Panel {
        id: frame
        objectName: "settingFrame"
        anchors.fill: parent
        displayMode: page.mode
    }

    Column {
        x: 138
        y: 45
        spacing: 10

        Model.MTextLeft {
            objectName: "settingTitle"
            width: textWidth; height: textHeight
            mText: "Setting"; mtextSize: 24; mcolor: Theme.colour("title", page.mode); mfont: page.fontFile
        }

        Row {
            spacing: 120
            Model.MTextLeft {
                id: themeCaption
                anchors.verticalCenter: parent.verticalCenter
                width: textWidth; height: textHeight
                mText: "Display Theme"; mtextSize: 16; mfontBold: true
                mcolor: page.headingColour; mfont: page.fontFile
            }

            Rectangle {
                id: themeSwitch
                objectName: "themeSwitch"
                anchors.verticalCenter: parent.verticalCenter
                width: 44
                height: 20
                radius: 10.6
                color: Theme.colour("switchTrack", page.mode)
                border.color: Theme.colour("outline", page.mode)
                border.width: 1

                Repeater {
                    model: [
                        { side: "left", icon: "qrc:/icon/icon_dark.png" },
                        { side: "right", icon: "qrc:/icon/icon_light.png" }
                    ]
                    Rectangle {
                        objectName: "themeKnob_" + modelData.side
                        x: modelData.side === "left" ? 1 : themeSwitch.width - width - 1
                        anchors.verticalCenter: parent.verticalCenter
                        width: 18
                        height: 18
                        radius: 9
                        color: Theme.colour(modelData.side === "left" ? "themeKnobLeft" : "themeKnobRight", page.mode)
                        Image {
                            anchors.centerIn: parent
                            width: 10
                            height: 10
                            source: modelData.icon
                            fillMode: Image.PreserveAspectFit
                            smooth: true
                        }
                    }
                }

                MouseArea {
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: page.toggleTheme()
                }

                Model.KeyControl {
                    role: Accessible.CheckBox
                    name: "Light theme"
                    checkable: true
                    checked: page.mode === Theme.Light
                    ringRadius: themeSwitch.radius
                    onActivated: page.toggleTheme()
                }
            }
        }

        Item {
            readonly property real switchX: Math.max(autoStartCaption.width + 20, themeSwitch.x)
            width: switchX + autoStartSwitch.width
            height: Math.max(autoStartCaption.height, autoStartSwitch.height)

            Model.MTextLeft {
                id: autoStartCaption
                anchors.verticalCenter: parent.verticalCenter
                width: textWidth; height: textHeight
                mText: "Start with the desktop"; mtextSize: 16; mfontBold: true
                mcolor: page.headingColour; mfont: page.fontFile
            }

            Rectangle {
                id: autoStartSwitch
                objectName: "autoStartSwitch"
                x: parent.switchX
                anchors.verticalCenter: parent.verticalCenter
                width: 44
                height: 20
                radius: 10.6
                color: Theme.colour("switchTrack", page.mode)
                border.color: Theme.colour("outline", page.mode)
                border.width: 1

                activeFocusOnTab: true
                Keys.onSpacePressed: page.toggleAutoStart()
                Accessible.role: Accessible.CheckBox
                Accessible.name: autoStartCaption.mText
                Accessible.checkable: true
                Accessible.checked: page.autoStart
                Accessible.onToggleAction: page.toggleAutoStart()
                Accessible.onPressAction: page.toggleAutoStart()

                Rectangle {
                    objectName: "autoStartKnob"
                    x: page.autoStart ? parent.width - width - 1 : 1
                    anchors.verticalCenter: parent.verticalCenter
                    width: 18
                    height: 18
                    radius: 9
                    color: Theme.colour(page.autoStart ? "autoStartKnobOn" : "switchKnobOff", page.mode)
                }

                Rectangle {
                    anchors.fill: parent
                    anchors.margins: -3
                    radius: parent.radius + 3
                    color: "transparent"
                    border.color: page.headingColour
                    border.width: 2
                    visible: parent.activeFocus
                }

                MouseArea {
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: page.toggleAutoStart()
                }
            }
        }

        Row {
            spacing: 20
            Item {
                width: themeSwitch.x - parent.spacing
                height: sdkCaption.height
                Model.MTextLeft {
                    id: sdkCaption
                    width: textWidth; height: textHeight
                    mText: "OpenRGB SDK server"; mtextSize: 16; mfontBold: true
                    mcolor: page.headingColour; mfont: page.fontFile
                }
            }

            Rectangle {
                id: sdkSwitch
                objectName: "openRgbSwitch"
                anchors.verticalCenter: parent.verticalCenter
                width: 44
                height: 20
                radius: 10.6
                color: Theme.colour("switchTrack", page.mode)
                border.color: activeFocus ? Theme.colour("title", page.mode) : Theme.colour("outline", page.mode)
                border.width: activeFocus ? 2 : 1
                activeFocusOnTab: true
                Keys.onSpacePressed: page.toggleOpenRgb()
                Keys.onReturnPressed: page.toggleOpenRgb()
                Keys.onEnterPressed: page.toggleOpenRgb()

                Accessible.role: Accessible.CheckBox
                Accessible.name: "OpenRGB SDK server"
                Accessible.description: Setting.OpenRgbHint
                Accessible.checkable: true
                Accessible.checked: page.openRgbOn
                Accessible.onPressAction: page.toggleOpenRgb()
                Accessible.onToggleAction: page.toggleOpenRgb()

                Rectangle {
                    objectName: "openRgbKnob"
                    x: page.openRgbOn ? sdkSwitch.width - width - 1 : 1
                    anchors.verticalCenter: parent.verticalCenter
                    width: 18
                    height: 18
                    radius: 9
                    color: Theme.colour(page.openRgbOn ? "switchKnobOn" : "switchKnobOff", page.mode)
                }

                MouseArea {
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: page.toggleOpenRgb()
                }
            }

            Model.MTextLeft {
                objectName: "openRgbStatus"
                anchors.verticalCenter: parent.verticalCenter
                width: textWidth; height: textHeight
                visible: page.openRgbOn
                mText: page.openRgbStatus; mtextSize: 14
                mcolor: Theme.colour("text", page.mode); mfont: page.fontFile
            }
        }

        Model.MTextLeft {
            width: textWidth; height: textHeight
            mText: Setting.OpenRgbHint; mtextSize: 14
            mcolor: Theme.colour("text", page.mode); mfont: page.fontFile
        }

        Model.MTextLeft {
            objectName: "versionLine"
            width: textWidth; height: textHeight
            mText: Setting.versionLine(page.app.appVersion); mtextSize: 16; mfontBold: true
            mcolor: page.headingColour; mfont: page.fontFile
        }

        Model.MTextLeft {
            width: textWidth; height: textHeight
            mText: "Please visit the Tarvell website to check for software updates"
            mtextSize: 14; mcolor: Theme.colour("text", page.mode); mfont: page.fontFile
        }

        Rectangle {
            id: updateButton
            objectName: "updateButton"
            width: 104
            height: 46
            radius: 4
            border.width: 1
            border.color: Theme.colour("buttonBorder", page.mode)
            color: updatePointer.containsMouse ? Theme.colour("buttonHover", page.mode) : page.updateColour

            Model.MText {
                anchors.fill: parent
                mText: "Update"; mtextSize: 20; mcolor: page.headingColour; mfont: page.fontFile
            }

            MouseArea {
                id: updatePointer
                objectName: "updatePointer"
                anchors.fill: parent
                enabled: page.updateUsable
                hoverEnabled: page.updateUsable
                cursorShape: page.updateUsable ? Qt.PointingHandCursor : Qt.ArrowCursor
                onExited: page.updateColour = Theme.colour("updateButtonLeft", page.mode)
                onClicked: page.startUpdate()
            }

            Model.KeyControl {
                name: "Update"
                enabled: page.updateUsable
                onActivated: page.startUpdate()
            }
        }

        Item { width: 1; height: 5 }

        Model.MTextLeft {
            width: textWidth; height: textHeight
            mText: "Support"; mtextSize: 16; mfontBold: true
            mcolor: page.headingColour; mfont: page.fontFile
        }

        Model.MTextLeft {
            width: textWidth; height: textHeight
            mText: "If you’d like to report a problem, request a feature, or share ideas on"
            mtextSize: 14; mcolor: Theme.colour("text", page.mode); mfont: page.fontFile
        }

        Row {
            spacing: 4
            Model.MTextLeft {
                width: textWidth; height: textHeight
                mText: "how we can improve the software, please"
                mtextSize: 14; mcolor: Theme.colour("text", page.mode); mfont: page.fontFile
            }
            Model.MTextLeft {
                id: contactLink
                objectName: "contactLink"
                width: textWidth; height: textHeight
                mText: "Contact Us."
                mtextSize: 14; mcolor: Theme.colour("contactLink", page.mode); mfont: page.fontFile
                MouseArea {
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: Qt.openUrlExternally(Links.makerContactPage)
                }
                Model.KeyControl {
                    role: Accessible.Link
                    name: "Contact Us"
                    onActivated: Qt.openUrlExternally(Links.makerContactPage)
                }
            }
        }
    }
}
