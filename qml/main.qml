import QtQuick 2.9
import QtQuick.Window 2.2
import "components" as Model
import "dialogs"
import "pages"
import Tarvell.Protocol 1.0 as Protocol
import "logic/Codes.js" as Codes
import "logic/Theme.js" as Theme
import "logic/Navigation.js" as Navigation
import "logic/Download.js" as Download

// The one window of the program. It owns the state the pages share, the single
// outgoing request dictionary, and the reading of every worker reply; the pages
// only paint and report through the entry points they offer.
Window {
    id: window
    objectName: "mainWindow"

    title: qsTr("TARVELL VORN")
    width: 1440
    height: 810
    minimumWidth: 1340
    minimumHeight: 710
    visible: true

    // ---- state shared with the pages -------------------------------------------
    property var dictDataforWorker: ({ "function": Codes.Request.Idle })
    property int displayMode: Theme.Dark
    property bool startApp: true
    property int effectCurrentMode: Protocol.Tables.defaultEffect
    property int effectSpeed: Protocol.Tables.defaultSpeed
    property string hex_color: "#FFFFFF"
    property int r_color: 255
    property int g_color: 255
    property int b_color: 255
    property bool aRGB_ON: true
    property bool isSyncMB: false
    property int fanControlBtn: 0
    property string fanSpeedControl: "0"
    property int gpu_count: 0
    property string appVersion: ""
    property bool hasClickUpdate: false
    property string downloadPercent: "0"
    property var monitorInfoDict: ({})
    property var userControlData: ({})

    property alias pageSwitch: pageSwitchItem

    // ---- the shell's own state -------------------------------------------------
    property string currentPage: Navigation.FirstPage
    property string currentLabel: Navigation.FirstPage
    property bool firstMonitorReplySeen: false
    // Set while reply 0 puts the stored theme back: that is a restore, not a
    // change made by the user, so the current label stays where it is.
    property bool restoringTheme: false
    // The worker has answered request 12 at least once since the download
    // screen opened, so any other reply means it has left the download behind.
    property bool downloadReplySeen: false
    // Whether the program has a tray icon to come back through; fixed at start-up.
    property bool trayPresent: true
    // The large pictures are held only while the window is shown. They are
    // decoded before the window is mapped, so it never stands unpainted while
    // they load, and let go once it is hidden.
    property bool picturesShown: false

    // Every reply 12 goes out here as well, for the page that owns the
    // "Update" button.
    signal downloadReply(var data)

    readonly property real dimmedOpacity: 0.2
    readonly property real fullOpacity: 1.0

    // ---- requests --------------------------------------------------------------

    // Merges `changes` into the one outgoing dictionary and sends all of it;
    // keys set by earlier requests travel along.
    function sendRequest(changes) {
        for (var key in changes)
            dictDataforWorker[key] = changes[key];
        workerThread.receiveDataFromQML(dictDataforWorker);
    }

    // ---- window ----------------------------------------------------------------

    function trayIsAvailable() {
        // Without the property (an older start-up) a tray is assumed.
        return typeof trayAvailable === "undefined" ? true : Boolean(trayAvailable);
    }

    function showMainWindow() {
        picturesShown = true;
        if (window.visibility === Window.Minimized)
            window.showNormal();
        else
            window.show();
        window.raise();
        // A launcher's token, handed over by a second start, lets a Wayland
        // compositor bring the window forward instead of only marking it.
        if (typeof activationToken !== "undefined")
            activationToken.adopt();
        window.requestActivate();
    }

    function quitApplication() {
        Qt.quit();
    }

    // Closing only hides the window: the program lives on in the tray and the
    // worker watches for a second start asking for the window. Without a tray
    // there would be no way left to end the program, so it ends.
    function handleCloseRequest(close) {
        close.accepted = false;
        if (!hideToTray())
            quitApplication();
    }

    function hideToTray() {
        trayPresent = trayPresent || trayIsAvailable(); // a tray that came up late
        if (!trayPresent)
            return false;
        window.hide();
        picturesShown = false;
        sendRequest({ "function": Codes.Request.WatchMarker });
        return true;
    }

    onClosing: handleCloseRequest(close)

    // Esc closes what is on top, as its close button would; with nothing open
    // it puts the window away into the tray (never ends a program that has none).
    function escapePressed() {
        if (monitorPage.curveEditorOpen())
            monitorPage.cancelCurveEditor();
        else if (failureNotice.visible)
            closeFailureNotice();
        else if (driverErrorDialog.visible)
            closeDriverErrorDialog();
        else if (!downloadScreen.visible)
            hideToTray();
    }

    Shortcut {
        sequence: "Esc"
        onActivated: window.escapePressed()
    }

    // The keyboard goes to the first control of a dialog that comes up.
    function focusFirstControlOf(item) {
        var next = item.nextItemInFocusChain(true);
        if (next)
            next.forceActiveFocus(Qt.TabFocusReason);
    }

    // ---- start-up --------------------------------------------------------------

    function startUp() {
        trayManager.showIcon();
        trayPresent = trayIsAvailable();
        if (trayPresent)
            window.hide();
        else
            showMainWindow();
        dictDataforWorker["RGB"] = "ON";
        dictDataforWorker["function"] = Codes.Request.Idle;
        dictDataforWorker["displayMode"] = displayMode;
        workerThread.start();
        workerThread.receiveDataFromQML(dictDataforWorker);
    }

    Component.onCompleted: startUp()

    // ---- navigation ------------------------------------------------------------

    function showPage(name) {
        argbPage.visible = name === Navigation.Argb;
        monitorPage.visible = name === Navigation.Monitor;
        settingPage.visible = name === Navigation.Setting;
        currentPage = name;
    }

    function setCurrentLabel(name) {
        if (!Navigation.isLabel(name))
            return;
        currentLabel = name;
        monitorLabel.opacity = Navigation.labelOpacity(Navigation.Monitor, name);
        argbLabel.opacity = Navigation.labelOpacity(Navigation.Argb, name);
        settingLabel.opacity = Navigation.labelOpacity(Navigation.Setting, name);
        marker.y = Navigation.markerY(name);
    }

    function openPage(name) {
        if (!Navigation.isLabel(name))
            return;
        console.log("Page " + name);
        showPage(name);
        setCurrentLabel(name);
        if (name === Navigation.Monitor)
            monitorPage.pageOpened();
        sendRequest({ "function": Navigation.RequestOnOpen[name] });
    }

    function showMainArea() {
        noDeviceScreen.stopBusy();
        noDeviceScreen.visible = false;
        mainArea.visible = true;
        pageSwitchItem.visible = true;
    }

    function showNoDeviceScreen() {
        mainArea.visible = false;
        pageSwitchItem.visible = false;
        noDeviceScreen.visible = true;
    }

    function showScreenForCardCount() {
        if (gpu_count >= 1)
            showMainArea();
        else
            showNoDeviceScreen();
    }

    // Pages are centred in the window, but never slide under the page switch's
    // labels (or the update dot) when the window is narrow.
    readonly property real pageLaneLeft: pageSwitchItem.x + pageSwitchItem.inkRight + 12

    function pageX(pageWidth) {
        return Math.max((scene.width - pageWidth) / 2, pageLaneLeft);
    }

    // ---- theme -----------------------------------------------------------------

    function repaintPagesForTheme() {
        argbPage.applyTheme();
        monitorPage.applyTheme();
        settingPage.applyTheme();
    }

    // Reply 0: the outgoing dictionary keeps the stored number as it is, the
    // drawn theme falls back to dark for anything but 0 and 1.
    function restoreTheme(storedValue) {
        dictDataforWorker["displayMode"] = Theme.stored(storedValue);
        restoringTheme = true;
        displayMode = Theme.shown(storedValue);
        restoringTheme = false;
        repaintPagesForTheme();
        monitorPage.paintPresetsUnselected();
    }

    // A theme change made by the user (the switch on the Setting page).
    function applyThemeChange() {
        repaintPagesForTheme();
        setCurrentLabel(Navigation.Setting);
    }

    onDisplayModeChanged: {
        if (!restoringTheme)
            applyThemeChange();
    }

    // ---- replies ---------------------------------------------------------------

    function cardCount(value) {
        var n = Codes.toInt(value);
        return isNaN(n) ? 0 : n;
    }

    function asMap(value) {
        return value !== undefined && value !== null && typeof value === "object" ? value : ({});
    }

    function handleReply(data) {
        var code = Codes.replyCode(data);
        if (downloadScreen.visible && downloadReplySeen && code !== Codes.Reply.Update)
            downloadScreen.offerWayBack(true);
        switch (code) {
        case Codes.Reply.RestoreDriverFailed: onDriverOpenFailed(data); break;
        case Codes.Reply.StartUp:          onStartUpReply(data); break;
        case Codes.Reply.ArgbControl:      onLightingReply(data); break;
        case Codes.Reply.SyncMotherboard:  onSyncMotherboardReply(data); break;
        case Codes.Reply.FanDuty:          onFanDutyReply(data); break;
        case Codes.Reply.FanCurve:         onFanDutyReply(data); break;
        case Codes.Reply.Refresh:          onRefreshReply(data); break;
        case Codes.Reply.Update:           onDownloadReply(data); break;
        case Codes.Reply.ReinstallDriver:  onDriverSetupReply(data); break;
        case Codes.Reply.Monitor:          onMonitorReply(data); break;
        case Codes.Reply.ShowWindow:       onShowWindowReply(data); break;
        default: break;   // not ours to read
        }
    }

    function onStartUpReply(data) {
        gpu_count = cardCount(data["GPU_count"]);
        userControlData = asMap(data["userControlData"]);
        restoreTheme(userControlData["displayMode"]);
        argbPage.restoreLighting(userControlData);
        monitorPage.restoreFan(userControlData);
        argbPage.restoreColour(userControlData);
        monitorInfoDict = asMap(data["MonitorInfoDict"]);
        appVersion = data["appVersion"] === undefined ? "" : String(data["appVersion"]);
        settingPage.evaluateUpdateOffer(monitorInfoDict);
        if (Codes.isInt(monitorInfoDict["CheckCTL"], 1))
            monitorPage.applyTelemetry(monitorInfoDict, "AdapterName");
    }

    function removeLoadingScreen() {
        if (loadingScreen.item)
            loadingScreen.item.stop();
        loadingScreen.active = false;
    }

    function onMonitorReply(data) {
        monitorInfoDict = asMap(data["MonitorInfoDict"]);
        gpu_count = cardCount(data["GPU_count"]);
        showScreenForCardCount();
        if (!firstMonitorReplySeen) {
            firstMonitorReplySeen = true;
            removeLoadingScreen();
            sendRequest({ "function": Codes.Request.WatchMarker });
            startApp = false;
        }
        if (Codes.isInt(monitorInfoDict["CheckCTL"], 1))
            monitorPage.applyTelemetry(monitorInfoDict, "deviceName");
        settingPage.evaluateUpdateOffer(monitorInfoDict);
    }

    function onShowWindowReply(data) {
        if (Codes.isInt(data["startGUI"], 1))
            showMainWindow();
    }

    function onFanDutyReply(data) {
        if (!monitorPage.handleFanReply(data))
            showFailureNotice();
        sendRequest({ "function": Codes.Request.Monitor });
    }

    // ---- no-device screen ------------------------------------------------------

    function refreshCards() {
        gpu_count = 0;
        sendRequest({ "function": Codes.Request.Refresh });
        noDeviceScreen.startBusy();
    }

    function onRefreshReply(data) {
        gpu_count = cardCount(data["GPU_count"]);
        showScreenForCardCount();
        noDeviceScreen.stopBusy();
        sendRequest({ "function": Codes.Request.Idle });
    }

    // ---- control-driver error dialog -------------------------------------------

    function refreshOverlay() {
        dimmingOverlay.visible = driverErrorDialog.visible || failureNotice.visible;
    }

    function onDriverOpenFailed(data) {
        if (gpu_count < 1) {
            showNoDeviceScreen();
            return;
        }
        driverErrorDialog.heldByKernelDriver = data["driverBusy"] === true;
        driverErrorDialog.visible = true;
        refreshOverlay();
        focusFirstControlOf(driverErrorDialog);
    }

    // Back to the page as it was; the worker opens the driver afresh for every
    // card request, so the user's next change tries the card again.
    function closeDriverErrorDialog() {
        driverErrorDialog.visible = false;
        refreshOverlay();
    }

    function reinstallDriver() {
        driverErrorDialog.visible = false;
        refreshOverlay();
        sendRequest({ "function": Codes.Request.ReinstallDriver });
    }

    // ---- failure notice --------------------------------------------------------

    function onLightingReply(data) {
        if (Codes.isInt(data["resultCheck_Switch_MCU_MB"], 1)
                || Codes.isInt(data["resultCheck_ARGB_Control"], 1))
            showFailureNotice();
    }

    function onSyncMotherboardReply(data) {
        if (Codes.isInt(data["resultCheck"], 1))
            showFailureNotice();
    }

    function showFailureNotice() {
        mainArea.opacity = dimmedOpacity;
        pageSwitchItem.opacity = dimmedOpacity;
        failureNotice.visible = true;
        refreshOverlay();
        focusFirstControlOf(failureNotice);
    }

    function closeFailureNotice() {
        failureNotice.visible = false;
        refreshOverlay();
        mainArea.opacity = fullOpacity;
        pageSwitchItem.opacity = fullOpacity;
    }

    // ---- download screen -------------------------------------------------------

    function showDownloadScreen() {
        downloadPercent = "0";
        downloadReplySeen = false;
        downloadScreen.offerWayBack(false);
        downloadScreen.visible = true;
        downloadScreen.startAnimation();
        downloadStallTimer.restart();
    }

    function closeDownloadScreen() {
        downloadStallTimer.stop();
        downloadScreen.visible = false;
        downloadScreen.offerWayBack(false);
        downloadScreen.stopAnimation();
        downloadPercent = "0";
    }

    function onDownloadReply(data) {
        downloadReply(data);
        var outcome = Download.readOutcome(data);
        if (outcome.failed) {
            downloadStallTimer.stop();
            if (downloadScreen.visible)
                downloadScreen.showFailure(outcome.text);
            return;
        }
        var progress = Download.readProgress(data["progress"]);
        if (progress.show !== "")
            downloadPercent = progress.show;
        if (progress.finish) {
            closeDownloadScreen();
            pageSwitchItem.showUpdateDot(false);
            return;
        }
        if (downloadScreen.visible) {
            downloadReplySeen = true;
            downloadScreen.offerWayBack(false);
            downloadStallTimer.restart();
        }
    }

    // The user gives up on a download that stalled or ended short: back to the
    // pages. The update stays offered by the red dot.
    function leaveDownloadScreen() {
        closeDownloadScreen();
        settingPage.reofferUpdate();
    }

    // The set-up ran: the user restarts once it is done. When it could not run
    // the program stays, and the dialog says why.
    function onDriverSetupReply(data) {
        if (Codes.isInt(data["resultCheck"], 0)) {
            quitApplication();
            return;
        }
        driverErrorDialog.setupFailure = data["failureText"] ? String(data["failureText"])
                                                             : "The driver set-up could not be started.";
        driverErrorDialog.visible = true;
        refreshOverlay();
    }

    Timer {
        id: downloadStallTimer
        objectName: "downloadStallTimer"
        interval: Download.StallMs
        repeat: false
        onTriggered: downloadScreen.offerWayBack(true)
    }

    // ---- worker ----------------------------------------------------------------

    Connections {
        target: workerThread
        function onStarted() {
            console.log("worker thread started");
        }
        function onDataChanged(data) {
            window.handleReply(data);
        }
    }

    // An OpenRGB client changed the lighting: the page shows it, and the next
    // click sends the lighting's on/off state as it now is.
    Connections {
        target: typeof openRgbSdk !== "undefined" ? openRgbSdk : null
        ignoreUnknownSignals: true
        function onLightingChanged(choices) {
            dictDataforWorker["RGB"] = choices["RGB"];
            argbPage.restoreLighting(choices);
            argbPage.restoreColour(choices);
        }
    }

    // ---- layers, bottom to top -------------------------------------------------

    // Everything is laid out for at least the design's smallest window. A
    // smaller screen gets the same scene scaled down as a whole, so nothing
    // is cut off; at the design size and above the scale stays 1.
    readonly property int designMinimumWidth: 1340
    readonly property int designMinimumHeight: 710
    readonly property real sceneScale: Math.min(1, width / designMinimumWidth, height / designMinimumHeight)

    Item {
        id: scene
        objectName: "scene"
        width: window.width / window.sceneScale
        height: window.height / window.sceneScale
        scale: window.sceneScale
        transformOrigin: Item.TopLeft


        // 1. background
        Model.VisibleImage {
            id: background
            objectName: "background"
            anchors.fill: parent
            picture: Theme.colour("background", window.displayMode)
            fillMode: Image.PreserveAspectCrop
        }

        // 3. page switch
        Item {
            id: pageSwitchItem
            objectName: "pageSwitch"
            // Drawn over the pages, but first in the keyboard's reading order.
            z: 1
            x: 65
            width: 200
            height: 230
            anchors.verticalCenter: parent.verticalCenter
            visible: false

            readonly property color labelColour: Theme.colour("pageLabel", window.displayMode)
            // Right edge of what the switch draws, from its own left edge.
            readonly property real inkRight: Math.max(monitorLabel.x + monitorLabel.width,
                                                      argbLabel.x + argbLabel.width,
                                                      settingLabel.x + settingLabel.width,
                                                      updateDot.x + updateDot.width)

            Accessible.role: Accessible.PageTabList
        Accessible.name: "Pages"
        enabled: !dimmingOverlay.visible && !downloadScreen.visible

        function focusLabel(i) {
            var keys = [monitorLabelKeys, argbLabelKeys, settingLabelKeys];
            keys[Math.max(0, Math.min(keys.length - 1, i))].forceActiveFocus(Qt.TabFocusReason);
        }

        function showUpdateDot(show) {
                updateDot.visible = show;
            }

            Rectangle {
                x: 5
                width: 2
                height: parent.height
                color: Theme.colour("pageSwitchLine", window.displayMode)
            }

            Rectangle {
                id: marker
                objectName: "pageMarker"
                x: 0
                y: Navigation.markerY(Navigation.FirstPage)
                width: 12
                height: 12
                radius: 6
                color: Theme.colour("pageMarker", window.displayMode)
                Behavior on y {
                    NumberAnimation {
                        duration: Navigation.MarkerSlideMs
                        easing.type: Easing.OutQuad
                    }
                }
            }

            Model.MTextLeft {
                id: monitorLabel
                objectName: "labelMonitor"
                x: 30
                y: 0
                width: textWidth
                height: 50
                opacity: Navigation.OtherOpacity
                mText: "Monitor"
                mtextSize: 36
                mcolor: pageSwitchItem.labelColour
                mfont: "qrc:/font/Kanit-Regular.ttf"
                MouseArea {
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: window.openPage(Navigation.Monitor)
                }
            }

            Model.MTextLeft {
                id: argbLabel
                objectName: "labelARGB"
                x: 30
                y: pageSwitchItem.height / 2 - 25
                width: textWidth
                height: 50
                opacity: Navigation.CurrentOpacity
                mText: "ARGB"
                mtextSize: 36
                mcolor: pageSwitchItem.labelColour
                mfont: "qrc:/font/Kanit-Regular.ttf"
                MouseArea {
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: window.openPage(Navigation.Argb)
                }
            }

            Model.MTextLeft {
                id: settingLabel
                objectName: "labelSetting"
                x: 30
                y: pageSwitchItem.height - 50
                width: textWidth
                height: 50
                opacity: Navigation.OtherOpacity
                mText: "Setting"
                mtextSize: 36
                mcolor: pageSwitchItem.labelColour
                mfont: "qrc:/font/Kanit-Regular.ttf"
                MouseArea {
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: window.openPage(Navigation.Setting)
                }
            }

            // Beside the labels, not in them: the ring keeps its full strength on a
            // label drawn at half opacity.
            Model.KeyControl {
                id: monitorLabelKeys
                anchors.fill: monitorLabel
                role: Accessible.PageTab
                name: monitorLabel.mText
                checkable: true
                checked: window.currentLabel === Navigation.Monitor
                takesArrows: true
                onActivated: window.openPage(Navigation.Monitor)
                onArrow: pageSwitchItem.focusLabel(Navigation.Labels.indexOf(Navigation.Monitor) + dx + dy)
            }

            Model.KeyControl {
                id: argbLabelKeys
                anchors.fill: argbLabel
                role: Accessible.PageTab
                name: argbLabel.mText
                checkable: true
                checked: window.currentLabel === Navigation.Argb
                takesArrows: true
                onActivated: window.openPage(Navigation.Argb)
                onArrow: pageSwitchItem.focusLabel(Navigation.Labels.indexOf(Navigation.Argb) + dx + dy)
            }

            Model.KeyControl {
                id: settingLabelKeys
                anchors.fill: settingLabel
                role: Accessible.PageTab
                name: settingLabel.mText
                checkable: true
                checked: window.currentLabel === Navigation.Setting
                takesArrows: true
                onActivated: window.openPage(Navigation.Setting)
                onArrow: pageSwitchItem.focusLabel(Navigation.Labels.indexOf(Navigation.Setting) + dx + dy)
            }

            Rectangle {
                id: updateDot
                objectName: "updateDot"
                x: settingLabel.x + settingLabel.width + 8
                y: marker.height / 2 + Navigation.markerY(Navigation.Setting) - height / 2
                width: 12
                height: 12
                radius: 6
                color: Theme.colour("updateDot", window.displayMode)
                visible: false
            }
        }

        // 2. the pages
        Item {
            id: mainArea
            objectName: "mainArea"
            anchors.fill: parent
            visible: false
            // Behind a notice the pages take no keys either.
            enabled: !dimmingOverlay.visible && !downloadScreen.visible

            MouseArea {
                anchors.fill: parent
                onClicked: argbPage.dropHexFocus()
            }

            ArgbPage {
                id: argbPage
                objectName: "argbPage"
                app: window
                x: window.pageX(width)
                anchors.verticalCenter: parent.verticalCenter
                visible: true
            }

            MonitorPage {
                id: monitorPage
                objectName: "monitorPage"
                app: window
                x: window.pageX(width)
                anchors.verticalCenter: parent.verticalCenter
                visible: false
            }

            SettingPage {
                id: settingPage
                objectName: "settingPage"
                app: window
                x: window.pageX(width)
                anchors.verticalCenter: parent.verticalCenter
                visible: false
            }
        }

        // 4. dimming overlay
        DimmingOverlay {
            id: dimmingOverlay
            objectName: "dimmingOverlay"
            z: 2
            anchors.fill: parent
        }

        // 5. control-driver error dialog
        DriverErrorDialog {
            id: driverErrorDialog
            objectName: "driverErrorDialog"
            z: 2
            anchors.centerIn: parent
            displayMode: window.displayMode
            onReinstallRequested: window.reinstallDriver()
            onCloseRequested: window.closeDriverErrorDialog()
        }

        // 6. failure notice
        FailureNotice {
            id: failureNotice
            objectName: "failureNotice"
            z: 2
            anchors.centerIn: parent
            onCloseRequested: window.closeFailureNotice()
        }

        // 7. no-device screen
        NoDeviceScreen {
            id: noDeviceScreen
            objectName: "noDeviceScreen"
            z: 2
            anchors.horizontalCenter: parent.horizontalCenter
            // Lower on a tall window, but "refresh" stays inside a short one.
            y: Math.min(370, scene.height - height - 20)
            textColor: Theme.colour("text", window.displayMode)
            onRefreshRequested: window.refreshCards()
        }

        // 8. loading screen, gone for good after the first monitoring reply
        Loader {
            id: loadingScreen
            objectName: "loadingScreen"
            z: 2
            anchors.fill: parent
            active: true
            sourceComponent: LoadingScreen {}
        }

        // 9. download screen
        DownloadScreen {
            id: downloadScreen
            objectName: "downloadScreen"
            z: 2
            anchors.fill: parent
            displayMode: window.displayMode
            percent: window.downloadPercent
            onBackRequested: window.leaveDownloadScreen()
        }
    }
}
