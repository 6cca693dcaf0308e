import QtQuick 2.9
import QtTest 1.2
import "qrc:/logic/Download.js" as Download

// The screens over the pages: no-device screen and "refresh", the control-driver
// error dialog, the failure notice, the download screen and the replies that quit.
TestCase {
    id: test
    name: "Screens"
    when: windowShown

    ShellFixture { id: fixture }

    property var w: null

    property int downloadReplies: 0

    function countDownloadReply(data) {
        downloadReplies += 1;
    }

    function init() {
        w = fixture.create();
        verify(w !== null, "main.qml did not load");
        downloadReplies = 0;
        w.downloadReply.connect(countDownloadReply);
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

    // ---- no-device screen ------------------------------------------------------

    function test_refreshWithoutCard() {
        fixture.passLoading(0);
        showAndWait();
        var screen = item("noDeviceScreen");
        var button = item("refreshButton");
        compare(screen.visible, true);
        compare(screen.width, 290);
        compare(screen.height, 350);
        compare(screen.y, 370);
        w.gpu_count = 3;   // a stale count must not survive the click
        workerThread.reset();

        mouseClick(button);
        compare(workerThread.requestCount, 1);
        compare(workerThread.lastRequest()["function"], 10);
        compare(w.gpu_count, 0);
        compare(screen.busy, true);
        compare(item("busyRing").visible, true);
        compare(item("busyRing").running, true);
        compare(item("noDeviceHeading").visible, false);
        compare(item("noDeviceIconTint").visible, false);
        compare(button.opacity, 0.2);
        compare(button.interactive, false);
        mouseClick(button);
        compare(workerThread.requestCount, 1, "a busy refresh button takes no clicks");

        workerThread.reply({ "function": 10, "GPU_count": 0, "MonitorInfoDict": fixture.telemetry({}) });
        compare(screen.visible, true);
        compare(item("mainArea").visible, false);
        compare(screen.busy, false);
        compare(item("busyRing").running, false);
        compare(item("noDeviceHeading").visible, true);
        compare(item("noDeviceIconTint").visible, true);
        compare(button.opacity, 1.0);
        compare(button.interactive, true);
        compare(workerThread.requestCount, 2);
        compare(workerThread.lastRequest()["function"], -1);
    }

    // Light grey on the light background could not be read.
    function test_noDeviceTextsFollowTheTheme() {
        fixture.passLoading(0);
        var screen = item("noDeviceScreen");
        compare(String(item("noDeviceHeading").mcolor).toUpperCase(), "#E2E2E2");
        w.displayMode = 1;
        compare(String(item("noDeviceHeading").mcolor).toUpperCase(), "#585858");
        compare(String(item("cantFindText").mcolor).toUpperCase(), "#585858");
        compare(String(item("noDeviceIconTint").color).toUpperCase(), "#585858");
        w.displayMode = 0;
        compare(String(screen.textColor).toUpperCase(), "#E2E2E2");
    }

    function test_refreshFindsCard() {
        fixture.passLoading(0);
        showAndWait();
        mouseClick(item("refreshButton"));
        workerThread.reply({ "function": 10, "GPU_count": 1, "MonitorInfoDict": fixture.telemetry({}) });
        compare(w.gpu_count, 1);
        compare(item("noDeviceScreen").visible, false);
        compare(item("noDeviceScreen").busy, false);
        compare(item("mainArea").visible, true);
        compare(item("pageSwitch").visible, true);
        compare(item("argbPage").visible, true, "the ARGB page as it was left");
        compare(w.currentPage, "ARGB");
        compare(workerThread.lastRequest()["function"], -1);
    }

    // ---- control-driver error dialog -------------------------------------------

    function test_driverFailureWithoutKnownCard() {
        fixture.passLoading(0);
        workerThread.reset();
        workerThread.reply({ "function": -2 });
        compare(item("noDeviceScreen").visible, true);
        compare(item("driverErrorDialog").visible, false);
        compare(item("dimmingOverlay").visible, false);
        compare(workerThread.requestCount, 0);
    }

    function test_driverFailureWithCardAndReinstall() {
        fixture.passLoading(1);
        showAndWait();
        workerThread.reset();
        workerThread.reply({ "function": -2 });
        var dialog = item("driverErrorDialog");
        compare(dialog.visible, true);
        compare(dialog.width, 860);
        compare(dialog.height, 480);
        compare(item("dimmingOverlay").visible, true);
        compare(item("mainArea").visible, true, "the pages stay beneath the dialog");
        compare(workerThread.requestCount, 0);

        // The overlay swallows clicks meant for the page switch.
        mouseClick(item("labelMonitor"));
        compare(workerThread.requestCount, 0);

        mouseClick(item("reinstallButton"));
        compare(dialog.visible, false);
        compare(item("dimmingOverlay").visible, false);
        compare(workerThread.requestCount, 1);
        compare(workerThread.lastRequest()["function"], 16);
        compare(harness.quitCount, 0);
        var why = "The set-up was cancelled: no administrator permission was given.";
        workerThread.reply({ "function": 16, "resultCheck": 1, "failureText": why });
        compare(harness.quitCount, 0, "a set-up that did not run keeps the program");
        compare(dialog.visible, true);
        compare(findChild(item("setupFailure"), "label").text, why);
        workerThread.reply({ "function": 16, "resultCheck": 0 });
        compare(harness.quitCount, 1, "a set-up that ran ends the program for the restart");
    }

    function test_driverFailureBeneathLoadingScreen() {
        fixture.replyStartUp(1, {});
        workerThread.reply({ "function": -2 });
        compare(item("driverErrorDialog").visible, true);
        verify(item("loadingScreen").item !== null, "the loading screen still covers it");
        verify(item("loadingScreen").z >= 0);
        fixture.replyMonitor(1);
        compare(item("driverErrorDialog").visible, true, "uncovered when loading ends");
    }

    // ---- failure notice --------------------------------------------------------

    function test_failureNotice_data() {
        return [
            { tag: "1 both fine", reply: { "function": 1, "resultCheck_Switch_MCU_MB": 0, "resultCheck_ARGB_Control": 0 }, shown: false },
            { tag: "1 switch failed", reply: { "function": 1, "resultCheck_Switch_MCU_MB": 1, "resultCheck_ARGB_Control": 0 }, shown: true },
            { tag: "1 lighting failed", reply: { "function": 1, "resultCheck_Switch_MCU_MB": 0, "resultCheck_ARGB_Control": 1 }, shown: true },
            { tag: "1 as text", reply: { "function": 1, "resultCheck_Switch_MCU_MB": "0", "resultCheck_ARGB_Control": "1" }, shown: true },
            { tag: "1 keys missing", reply: { "function": 1 }, shown: false },
            { tag: "8 fine", reply: { "function": 8, "resultCheck": 0 }, shown: false },
            { tag: "8 failed", reply: { "function": 8, "resultCheck": 1 }, shown: true },
            { tag: "2 failed is not ours", reply: { "function": 2, "resultCheck": 1 }, shown: false }
        ];
    }

    function test_failureNotice(data) {
        fixture.passLoading(1);
        showAndWait();
        workerThread.reset();
        workerThread.reply(data.reply);
        compare(item("failureNotice").visible, data.shown);
        compare(item("dimmingOverlay").visible, data.shown);
        var expectedOpacity = data.shown ? 0.2 : 1.0;
        compare(item("mainArea").opacity, expectedOpacity);
        compare(item("pageSwitch").opacity, expectedOpacity);
        if (!data.shown)
            return;
        compare(item("failureNotice").width, 389);
        compare(item("failureNotice").height, 115);
        mouseClick(item("noticeCloseButton"));
        compare(item("failureNotice").visible, false);
        compare(item("dimmingOverlay").visible, false);
        compare(item("mainArea").opacity, 1.0);
        compare(item("pageSwitch").opacity, 1.0);
        compare(workerThread.requestCount, 0, "closing the notice sends nothing");
    }

    function test_noticeCloseKeepsOverlayForDialog() {
        fixture.passLoading(1);
        showAndWait();
        workerThread.reply({ "function": -2 });
        workerThread.reply({ "function": 8, "resultCheck": 1 });
        mouseClick(item("noticeCloseButton"));
        compare(item("driverErrorDialog").visible, true);
        compare(item("dimmingOverlay").visible, true, "the dialog still needs its overlay");
    }

    // ---- download screen -------------------------------------------------------

    function openDownload() {
        fixture.passLoading(1);
        showAndWait();
        w.pageSwitch.showUpdateDot(true);
        w.hasClickUpdate = true;
        w.showDownloadScreen();
        compare(item("downloadScreen").visible, true);
        compare(w.downloadPercent, "0");
        compare(item("downloadAnimation").playing, true);
        compare(String(item("downloadAnimation").source), "qrc:/icon/d_Tarvell Loading Anim_0409.gif");
    }

    function test_downloadProgress_data() {
        return [
            { tag: "99", progress: 99, percent: "99", open: true },
            { tag: "100", progress: 100, percent: "0", open: false },
            { tag: "150", progress: 150, percent: "0", open: false },
            { tag: "-1", progress: -1, percent: "42", open: true },
            { tag: "none", progress: undefined, percent: "42", open: true },
            { tag: "text", progress: "7", percent: "7", open: true }
        ];
    }

    function test_downloadProgress(data) {
        openDownload();
        workerThread.reply({ "function": 12, "downloadFile": 1, "InstallApp": 0, "progress": 42 });
        compare(w.downloadPercent, "42");
        workerThread.reset();
        var reply = { "function": 12, "downloadFile": 1, "InstallApp": 0 };
        if (data.progress !== undefined)
            reply["progress"] = data.progress;
        var shown = [];
        w.downloadPercentChanged.connect(function() { shown.push(w.downloadPercent); });
        workerThread.reply(reply);
        compare(downloadReplies, 2, "every reply 12 reaches the Update button's page");
        compare(item("downloadScreen").visible, data.open);
        compare(w.downloadPercent, data.percent);
        verify(shown.indexOf("150") < 0, "a progress above 100 is never shown");
        compare(item("updateDot").visible, data.open, "a finished download takes the dot away");
        if (!data.open) {
            compare(item("downloadAnimation").playing, false);
            compare(String(item("downloadAnimation").source), "");
        }
        compare(workerThread.requestCount, 0);
    }

    function test_downloadScreenLightTheme() {
        fixture.passLoading(1);
        w.displayMode = 1;
        w.showDownloadScreen();
        compare(String(item("downloadScreen").color), "#e4eaf7");
        compare(String(item("downloadAnimation").source), "qrc:/icon/l_Tarvell Loading Anim_0409.gif");
        compare(String(findChild(item("downloadText"), "label").color), "#585858");
    }

    function test_downloadFailureShowsAtOnceAndBackReoffers_data() {
        return [
            { tag: "reason", text: "The update server could not provide the file (HTTP 404).",
              shown: "The update server could not provide the file (HTTP 404)." },
            { tag: "no reason", text: undefined, shown: "The download did not finish." }
        ];
    }

    function test_downloadFailureShowsAtOnceAndBackReoffers(data) {
        openDownload();
        w.monitorInfoDict = { "updateApp": 1 };
        workerThread.reply({ "function": 12, "downloadFile": 1, "InstallApp": 0, "progress": 40 });
        var failed = { "function": 12, "downloadFile": 1, "InstallApp": 0, "downloadResult": 1 };
        if (data.text !== undefined)
            failed["failureText"] = data.text;
        workerThread.reply(failed);
        compare(item("downloadScreen").visible, true);
        compare(item("downloadBackButton").visible, true, "no wait for a stall");
        compare(findChild(item("downloadText"), "label").text, data.shown);
        compare(item("downloadAnimation").playing, false);
        workerThread.reset();
        mouseClick(item("downloadBackButton"));
        compare(item("downloadScreen").visible, false);
        compare(item("updateDot").visible, true);
        compare(item("updatePointer").enabled, true, "Update works again");
        item("updatePointer").clicked(null);
        compare(workerThread.lastRequest()["function"], 12);
        compare(findChild(item("downloadText"), "label").text, "Downloading 0%");
    }

    function test_downloadStallOffersWayBack() {
        openDownload();
        var timer = item("downloadStallTimer");
        compare(timer.running, true);
        compare(timer.interval, Download.StallMs);
        compare(item("downloadScreen").wayBackOffered, false);
        timer.triggered();   // what 30 s without a progress reply would do
        compare(item("downloadScreen").wayBackOffered, true);
        compare(item("downloadBackButton").visible, true);

        // The download comes back to life: the offer goes away again.
        workerThread.reply({ "function": 12, "downloadFile": 1, "InstallApp": 0, "progress": 5 });
        compare(item("downloadScreen").wayBackOffered, false);
        compare(timer.running, true);
        compare(w.downloadPercent, "5");

        timer.triggered();
        workerThread.reset();
        mouseClick(item("downloadBackButton"));
        compare(item("downloadScreen").visible, false);
        compare(timer.running, false);
        compare(w.downloadPercent, "0");
        compare(item("downloadAnimation").playing, false);
        compare(item("updateDot").visible, true, "the update is still to be had");
        compare(workerThread.requestCount, 0);
    }

    function test_downloadEndedShortOffersWayBack() {
        openDownload();
        // A reply the worker emitted before taking the update request says nothing
        // about the download.
        fixture.replyMonitor(1);
        compare(item("downloadScreen").wayBackOffered, false);
        workerThread.reply({ "function": 12, "downloadFile": 1, "InstallApp": 0, "new_version": "25.5.0" });
        workerThread.reply({ "function": 12, "downloadFile": 1, "InstallApp": 0, "progress": 60 });
        compare(item("downloadScreen").wayBackOffered, false);
        // The worker has moved on without reaching 100.
        workerThread.reply({ "function": 101, "startGUI": 1 });
        compare(item("downloadScreen").visible, true, "the screen still waits for the user");
        compare(item("downloadScreen").wayBackOffered, true);
        compare(w.downloadPercent, "60");
    }

    function test_readProgress_data() {
        return [
            { tag: "0", value: 0, show: "0", finish: false },
            { tag: "99", value: 99, show: "99", finish: false },
            { tag: "100", value: 100, show: "100", finish: true },
            { tag: "101", value: 101, show: "", finish: true },
            { tag: "-1", value: -1, show: "", finish: false },
            { tag: "text", value: "abc", show: "", finish: false },
            { tag: "empty", value: "", show: "", finish: false },
            { tag: "double", value: 55.7, show: "55", finish: false }
        ];
    }

    function test_readProgress(data) {
        var r = Download.readProgress(data.value);
        compare(r.show, data.show);
        compare(r.finish, data.finish);
    }
}
