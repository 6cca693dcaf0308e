import QtQuick 2.9
import QtTest 1.2

// The window: start-up, reply 0, the first monitoring reply, the page switch,
// themes, closing and showing, and replies it does not know.
TestCase {
    id: test
    name: "Shell"
    when: windowShown

    ShellFixture { id: fixture }

    property var w: null

    function init() {
        w = fixture.create();
        verify(w !== null, "main.qml did not load");
    }

    function cleanup() {
        fixture.destroyScene();
        w = null;
    }

    function item(name) {
        var found = findChild(w, name);
        verify(found !== null, "no item " + name);
        return found;
    }

    function showAndWait() {
        w.showMainWindow();
        tryCompare(w, "visible", true);
        waitForRendering(w.contentItem);
    }

    function test_startUp() {
        compare(trayManager.showIconCount, 1);
        compare(w.visible, false, "the window must start hidden when a tray exists");
        compare(workerThread.startCount, 1);
        compare(workerThread.requestCount, 1);
        var first = workerThread.request(0);
        compare(first["function"], -1);
        compare(first["RGB"], "ON");
        compare(first["displayMode"], 0);
        compare(w.startApp, true);
        verify(item("loadingScreen").item !== null, "loading screen shown from the start");
        compare(item("mainArea").visible, false);
        compare(item("pageSwitch").visible, false);
        compare(item("noDeviceScreen").visible, false);
        compare(w.title, "TARVELL VORN");
        compare(w.width, 1440);
        compare(w.height, 810);
        compare(w.minimumWidth, 1340);
        compare(w.minimumHeight, 710);
    }

    function test_startUpWithoutTrayShowsWindowAndCloseEnds() {
        fixture.destroyScene();
        harness.setTrayAvailable(false);
        w = fixture.create();
        compare(w.visible, true, "without a tray the window is the only way in");
        compare(workerThread.startCount, 1);
        workerThread.reset();
        w.close();
        harness.setTrayAvailable(true);
        compare(harness.quitCount, 1, "without a tray, closing must end the program");
        compare(workerThread.requestCount, 0);
    }

    function test_trayThatComesUpLaterTakesTheClosedWindow() {
        fixture.destroyScene();
        harness.setTrayAvailable(false);
        w = fixture.create();
        harness.setTrayAvailable(true);
        harness.resetQuitCount();
        w.close();
        compare(harness.quitCount, 0, "a tray is there by now: closing hides to it");
        compare(w.visible, false);
    }

    function test_outgoingDictionaryKeepsEarlierKeys() {
        fixture.passLoading(1);
        w.sendRequest({ "function": 3, "fanControlBtn": 2, "fanSpeed": 50 });
        w.sendRequest({ "function": 7, "fanControlBtn": 0, "controlMode": 1 });
        var last = workerThread.lastRequest();
        compare(last["function"], 7);
        compare(last["fanSpeed"], 50, "earlier keys travel along");
        compare(last["fanControlBtn"], 0, "later values overwrite earlier ones");
        compare(last["RGB"], "ON");
        compare(last["displayMode"], 0);
        compare(last["controlMode"], 1);
    }

    function test_startUpReplyTheme_data() {
        return [
            { tag: "dark", stored: 0, shown: 0, sent: 0 },
            { tag: "light", stored: 1, shown: 1, sent: 1 },
            { tag: "two", stored: 2, shown: 0, sent: 2 },
            { tag: "minus one", stored: -1, shown: 0, sent: -1 },
            { tag: "text one", stored: "1", shown: 1, sent: 1 },
            { tag: "missing", stored: undefined, shown: 0, sent: 0 }
        ];
    }

    function test_startUpReplyTheme(data) {
        var overrides = { "displayMode": data.stored };
        if (data.stored === undefined)
            overrides = {};
        var user = fixture.userData(overrides);
        if (data.stored === undefined)
            delete user["displayMode"];
        workerThread.reply({ "function": 0, "GPU_count": 1, "appVersion": "25.4.0",
                             "MonitorInfoDict": fixture.telemetry({}), "userControlData": user });
        compare(w.displayMode, data.shown);
        compare(workerThread.requestCount, 1, "reply 0 sends nothing");
        compare(w.currentLabel, "ARGB", "a restored theme does not move the current label");
        fixture.replyMonitor(1);
        compare(workerThread.lastRequest()["displayMode"], data.sent,
                "the stored theme travels back unchanged");
        var labelColour = data.shown === 1 ? "#000000" : "#ffffff";
        compare(String(item("labelARGB").mcolor), labelColour);
    }

    function test_startUpReplyTakesStateButKeepsScreens() {
        fixture.replyStartUp(1, {});
        compare(w.gpu_count, 1);
        compare(w.appVersion, "25.4.0");
        compare(w.userControlData["RGBControlMode"], "MCU");
        compare(w.monitorInfoDict["CheckCTL"], 1);
        compare(w.startApp, true, "only the first monitoring reply ends start-up");
        verify(item("loadingScreen").item !== null);
        compare(item("mainArea").visible, false);
        compare(item("noDeviceScreen").visible, false);
        compare(workerThread.requestCount, 1);
    }

    function test_firstMonitorReply_data() {
        return [
            { tag: "one card", cards: 1, main: true },
            { tag: "two cards", cards: 2, main: true },
            { tag: "no card", cards: 0, main: false }
        ];
    }

    function test_firstMonitorReply(data) {
        fixture.replyStartUp(data.cards, {});
        compare(w.startApp, true);
        fixture.replyMonitor(data.cards);
        compare(w.startApp, false);
        compare(item("loadingScreen").item, null, "the loading screen is destroyed");
        compare(item("loadingScreen").active, false);
        compare(item("mainArea").visible, data.main);
        compare(item("pageSwitch").visible, data.main);
        compare(item("noDeviceScreen").visible, !data.main);
        compare(fixture.sentCodes(), [-1, 101]);
        fixture.replyMonitor(data.cards);
        fixture.replyMonitor(data.cards);
        compare(fixture.sentCodes(), [-1, 101], "101 goes out once, not on every reply 100");
    }

    function test_laterMonitorReplyFollowsCardCount() {
        fixture.passLoading(1);
        fixture.replyMonitor(0);
        compare(item("noDeviceScreen").visible, true);
        compare(item("mainArea").visible, false);
        fixture.replyMonitor(1);
        compare(item("noDeviceScreen").visible, false);
        compare(item("mainArea").visible, true);
        compare(item("pageSwitch").visible, true);
    }

    function test_pageSwitch_data() {
        return [
            { tag: "Monitor", label: "labelMonitor", page: "monitorPage", code: 100, markerY: 20 },
            { tag: "ARGB", label: "labelARGB", page: "argbPage", code: -1, markerY: 110 },
            { tag: "Setting", label: "labelSetting", page: "settingPage", code: -1, markerY: 200 }
        ];
    }

    function test_pageSwitch(data) {
        fixture.passLoading(1);
        showAndWait();
        // Start on another page so every label really moves the marker.
        var start = data.tag === "Monitor" ? "labelSetting" : "labelMonitor";
        mouseClick(item(start));
        tryCompare(item("pageMarker"), "y", start === "labelSetting" ? 200 : 20);
        workerThread.reset();

        mouseClick(item(data.label));
        compare(workerThread.requestCount, 1);
        compare(workerThread.lastRequest()["function"], data.code);
        tryCompare(item("pageMarker"), "y", data.markerY);
        compare(w.currentPage, data.tag);
        compare(w.currentLabel, data.tag);
        var pages = ["argbPage", "monitorPage", "settingPage"];
        for (var i = 0; i < pages.length; ++i)
            compare(item(pages[i]).visible, pages[i] === data.page, pages[i]);
        var labels = ["labelMonitor", "labelARGB", "labelSetting"];
        for (var j = 0; j < labels.length; ++j)
            compare(item(labels[j]).opacity, labels[j] === data.label ? 1.0 : 0.5, labels[j]);
    }

    function test_pageSwitchLayout() {
        fixture.passLoading(1);
        compare(item("pageSwitch").width, 200);
        compare(item("pageSwitch").height, 230);
        compare(item("pageSwitch").x, 65);
        compare(item("labelARGB").y, 230 / 2 - 25);
        compare(item("labelSetting").y, 230 - 50);
        compare(item("pageMarker").y, 110, "the marker starts at ARGB");
        compare(item("labelARGB").opacity, 1.0);
        compare(item("labelMonitor").opacity, 0.5);
        compare(item("argbPage").visible, true);
        compare(item("argbPage").width, 905);
        compare(item("monitorPage").height, 560);
        compare(item("settingPage").width, 861);
        w.pageSwitch.showUpdateDot(true);
        compare(item("updateDot").visible, true);
        w.pageSwitch.showUpdateDot(false);
        compare(item("updateDot").visible, false);
    }

    function themeSnapshot() {
        return {
            labelMonitor: String(item("labelMonitor").mcolor),
            labelARGB: String(item("labelARGB").mcolor),
            labelSetting: String(item("labelSetting").mcolor),
            downloadColour: String(item("downloadScreen").color)
        };
    }

    function test_themeToggledTwice() {
        fixture.passLoading(1);
        showAndWait();
        var dark = themeSnapshot();
        compare(dark.labelARGB, "#ffffff");
        compare(dark.downloadColour, "#162955");

        w.displayMode = 1;   // what the theme switch on the Setting page does
        var light = themeSnapshot();
        compare(light.labelARGB, "#000000");
        compare(light.labelMonitor, "#000000");
        compare(light.downloadColour, "#e4eaf7");
        compare(w.currentLabel, "Setting", "a theme change makes Setting the current label");
        compare(item("labelSetting").opacity, 1.0);
        compare(item("labelARGB").opacity, 0.5);

        w.displayMode = 0;
        compare(themeSnapshot(), dark, "two toggles restore every colour");
    }

    function test_closeHidesAndShowRestoresPage() {
        fixture.passLoading(1);
        showAndWait();
        mouseClick(item("labelSetting"));
        workerThread.reset();
        w.close();
        compare(w.visible, false);
        compare(workerThread.requestCount, 1);
        compare(workerThread.lastRequest()["function"], 101);
        compare(harness.quitCount, 0, "closing keeps the program running");
        w.showMainWindow();
        compare(w.visible, true);
        compare(item("settingPage").visible, true, "the page survives hiding");
        compare(w.currentLabel, "Setting");
    }

    function test_showWindowReply() {
        fixture.passLoading(1);
        compare(w.visible, false);
        workerThread.reply({ "function": 101, "startGUI": 0 });
        compare(w.visible, false, "startGUI 0 asks for nothing");
        workerThread.reply({ "function": 101, "startGUI": 1 });
        compare(w.visible, true);
    }

    function snapshot() {
        return {
            requests: workerThread.requestCount,
            visible: w.visible,
            startApp: w.startApp,
            gpu: w.gpu_count,
            mode: w.displayMode,
            page: w.currentPage,
            main: item("mainArea").visible,
            noDevice: item("noDeviceScreen").visible,
            overlay: item("dimmingOverlay").visible,
            notice: item("failureNotice").visible,
            dialog: item("driverErrorDialog").visible,
            download: item("downloadScreen").visible,
            percent: w.downloadPercent,
            loading: item("loadingScreen").active,
            quits: harness.quitCount
        };
    }

    function test_unknownRepliesChangeNothing_data() {
        return [
            { tag: "2", reply: { "function": 2, "resultCheck": 1 } },
            { tag: "13", reply: { "function": 13, "resultCheck_ARGB_Control": 1, "resultCheck_Switch_MCU_MB": 1 } },
            { tag: "50", reply: { "function": 50, "GPU_count": 0 } },
            { tag: "-1", reply: { "function": -1, "GPU_count": 0 } },
            { tag: "text", reply: { "function": "abc", "GPU_count": 0 } },
            { tag: "no code", reply: { "GPU_count": 0, "progress": 100 } }
        ];
    }

    function test_unknownRepliesChangeNothing(data) {
        fixture.replyStartUp(1, {});
        var before = snapshot();
        workerThread.reply(data.reply);
        compare(snapshot(), before);
        fixture.replyMonitor(1);
        before = snapshot();
        workerThread.reply(data.reply);
        compare(snapshot(), before);
    }
}
