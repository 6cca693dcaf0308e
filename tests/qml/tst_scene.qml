import QtQuick 2.9
import QtTest 1.2
import "qrc:/logic/Links.js" as Links

// The real window on the stand-in worker: what each reply shows and how it is
// left, what each click sends, the hex field and a failed fan Apply.
ShellFixture {
    name: "Scene"

    readonly property var screens: ["mainArea", "noDeviceScreen", "driverErrorDialog", "failureNotice",
                                    "dimmingOverlay", "downloadScreen"]

    function shown() {
        return screens.filter(function (s) { return item(s).visible; });
    }

    function test_reply_data() {
        var page = ["mainArea"], noCard = ["noDeviceScreen"], notice = ["mainArea", "failureNotice", "dimmingOverlay"];
        function lighting(sw, argb) {
            return { "function": 1, "resultCheck_Switch_MCU_MB": sw, "resultCheck_ARGB_Control": argb };
        }
        function refresh(cards) { return { "function": 10, "GPU_count": cards }; }
        return [
            { tag: "driver failed, card known", reply: { "function": -2 }, close: "dialogCloseButton",
              shows: ["mainArea", "driverErrorDialog", "dimmingOverlay"], explains: "     Control driver failed" },
            { tag: "kernel driver at the card", reply: { "function": -2, "driverBusy": true },
              shows: ["mainArea", "driverErrorDialog", "dimmingOverlay"], explains: "     A kernel driver holds" },
            { tag: "driver failed, no card", noCard: true, reply: { "function": -2 }, shows: noCard },
            { tag: "lighting failed", reply: lighting(0, 1), shows: notice, close: "noticeCloseButton" },
            { tag: "lighting switch failed", reply: lighting(1, 0), shows: notice, close: "noticeCloseButton" },
            { tag: "lighting taken", reply: lighting(0, 0), shows: page },
            { tag: "motherboard hand-over failed", reply: { "function": 8, "resultCheck": 1 }, shows: notice },
            { tag: "fan preset without result", reply: { "function": 3 }, shows: notice, sends: [100] },
            { tag: "fan preset taken", reply: { "function": 3, "resultCheck": 0 }, shows: page, sends: [100] },
            { tag: "refresh finds no card", noCard: true, reply: refresh(0), shows: noCard, sends: [-1] },
            { tag: "refresh finds a card", noCard: true, reply: refresh(1), shows: page, sends: [-1] },
            { tag: "card gone while monitoring", reply: { "function": 100, "GPU_count": 0, "MonitorInfoDict": telemetry },
              shows: noCard },
            { tag: "unknown code", reply: { "function": 99, "GPU_count": 0 }, shows: page }
        ];
    }

    function test_reply(data) {
        start(data.noCard ? 0 : 1);
        workerThread.reply(data.reply);
        compare(shown(), data.shows);
        compare(sentCodes(), data.sends || []);
        if (data.explains)
            compare(findChild(item("dialogExplanation"), "label").text.indexOf(data.explains), 0);
        if (data.close) {
            mouseClick(item(data.close));
            compare(shown(), ["mainArea"], "closing returns to the page");
            compare(sentCodes(), data.sends || [], "closing sends nothing");
        }
    }

    // The help's two links open their pages on a click on the words and from the keyboard.
    function test_driverDialogLinks() {
        start(1);
        harness.opened = [];
        workerThread.reply({ "function": -2 });
        var intel = findChild(item("driverErrorDialog"), "intelLink");
        mouseClick(intel, 4, intel.height / 2);
        findChild(findChild(item("driverErrorDialog"), "contactLink"), "keys").forceActiveFocus();
        keyClick(Qt.Key_Space);
        compare(harness.opened, [Links.intelDriverPage, Links.makerFaqPage]);
    }

    function test_reinstall_data() {
        var why = "The set-up was cancelled: no administrator permission was given.";
        return [
            { tag: "set-up ran", reply: { "resultCheck": 0 }, quits: 1 },
            { tag: "set-up refused", reply: { "resultCheck": 1, "failureText": why }, shown: why },
            { tag: "no reason", reply: { "resultCheck": 1 }, shown: "The driver set-up could not be started." }
        ];
    }

    function test_reinstall(data) {
        start(1);
        workerThread.reply({ "function": -2 });
        mouseClick(item("reinstallButton"));
        compare(sentCodes(), [16]);
        compare(item("driverErrorDialog").visible, false);
        workerThread.reply(Object.assign({ "function": 16 }, data.reply));
        compare(harness.quits, data.quits || 0);
        compare(item("driverErrorDialog").visible, !data.quits);
        if (data.shown)
            compare(findChild(item("setupFailure"), "label").text, data.shown);
    }

    function test_download_data() {
        var why = "The update server could not provide the file (HTTP 404).";
        return [
            { tag: "99 leaves the screen up", reply: { "progress": 99 }, visible: true, text: "Downloading 99%" },
            { tag: "100 closes it", reply: { "progress": 100 }, visible: false },
            { tag: "no progress changes nothing", reply: {}, visible: true, text: "Downloading 0%" },
            { tag: "failure shows why, with Back", reply: { "downloadResult": 1, "failureText": why },
              visible: true, text: why, back: true }
        ];
    }

    function test_download(data) {
        start(1);
        w.showDownloadScreen();
        workerThread.reply(Object.assign({ "function": 12, "downloadFile": 1, "InstallApp": 0 }, data.reply));
        compare(item("downloadScreen").visible, data.visible);
        if (data.text)
            compare(findChild(item("downloadText"), "label").text, data.text);
        if (data.back) {
            mouseClick(item("downloadBackButton"));
            compare(item("downloadScreen").visible, false, "no wait for a stall");
        }
    }

    function test_close_data() {
        return [
            { tag: "tray", atStart: true, atClose: true, quits: 0, sends: [101] },
            { tag: "no tray", atStart: false, atClose: false, quits: 1, sends: [] },
            { tag: "tray came up later", atStart: false, atClose: true, quits: 0, sends: [101] }
        ];
    }

    function test_close(data) {
        cleanup();
        harness.setTrayAvailable(data.atStart);
        init();
        compare(w.visible, !data.atStart, "without a tray the window is the only way in");
        harness.setTrayAvailable(data.atClose);
        start(1);
        w.close();
        harness.setTrayAvailable(true);
        compare(harness.quits, data.quits);
        compare(sentCodes(), data.sends);
        compare(w.visible, data.quits === 1);
    }

    // The large pictures hold pixels only while they can be seen: not on a page
    // nobody looks at, not in the tray, and they are back when the window is.
    function test_picturesOnlyWhileSeen() {
        start(1);
        var background = item("background"), lighting = findChild(item("rgbPanel"), "panelFrame"),
            readings = findChild(item("readingsPanel"), "panelFrame");
        compare([background.status, lighting.status, readings.status], [Image.Ready, Image.Ready, Image.Null]);
        w.openPage("Monitor");
        compare([lighting.status, readings.status], [Image.Null, Image.Ready]);
        w.close();
        compare([w.visible, background.status, readings.status], [false, Image.Null, Image.Null]);
        w.showMainWindow();
        tryCompare(background, "status", Image.Ready);
        compare(readings.status, Image.Ready);
    }

    function test_click_data() {
        return [
            { tag: "Default Mode", user: { "argb_effect": 1 }, clicks: ["defaultModeButton"],
              request: { "function": 1, "effect": 5 } },
            { tag: "lighting off", clicks: ["argbSwitch"], request: { "function": 13, "RGB": "OFF", "r_hex": "00" } },
            { tag: "Silent, Default, Apply", page: "labelMonitor", clicks: ["preset_1", "preset_0", "applyButton"],
              request: { "function": 7, "fanControlBtn": 0, "controlMode": 1 } },
            { tag: "theme switch", page: "labelSetting", clicks: ["themeSwitch"],
              request: { "function": 11, "displayMode": 1 } },
            { tag: "Monitor label", clicks: ["labelMonitor"], request: { "function": 100 } }
        ];
    }

    function test_click(data) {
        start(1, data.user);
        if (data.page) {
            mouseClick(item(data.page));
            waitForRendering(w.contentItem);
            workerThread.requests = [];
        }
        for (var i = 0; i < data.clicks.length; ++i)
            mouseClick(item(data.clicks[i]));
        compare(workerThread.requests.length, 1, "one click, one request");
        for (var key in data.request)
            compare(workerThread.requests[0][key], data.request[key], key);
    }

    // The speed a user drags, clicks or steps to is the one sent, never past an end.
    function test_speedSlider() {
        start(1);
        var slider = item("speedSlider");
        function sentSpeeds() {
            return workerThread.requests.map(function (r) { return [r["ARGBSliderSpeed"], r["speed"]]; });
        }
        mouseDrag(slider, slider.width / 2, slider.height / 2, -slider.width, 0);
        compare(sentSpeeds().pop(), [1, "02"], "dragged past the slow end");
        workerThread.requests = [];
        mouseClick(slider, slider.width - 4, slider.height / 2);
        keyClick(Qt.Key_Right);
        keyClick(Qt.Key_Left);
        compare(sentSpeeds(), [[5, "FE"], [4, "FF"]]);
        compare(item("speedHandle").x, 3 / 4 * slider.handleTravel);
    }

    function test_restoreSendsNothingAndThemeFallsBack_data() {
        return [ { tag: "light", stored: 1, shown: 1 }, { tag: "2 is dark", stored: 2, shown: 0 },
                 { tag: "-1 is dark", stored: -1, shown: 0 } ];
    }

    function test_restoreSendsNothingAndThemeFallsBack(data) {
        replyStartUp(1, { "displayMode": data.stored, "RGB": "OFF", "ARGBSliderSpeed": 5 });
        compare(sentCodes(), [-1], "only the start-up request");
        compare(w.displayMode, data.shown);
        compare(w.dictDataforWorker["displayMode"], data.stored);
        replyMonitor(1);
        compare(sentCodes(), [-1, 101]);
        compare(item("loadingScreen").active, false);
    }

    // Restored hand-over or lighting off, then lighting on: the card gets back
    // what the user left, and the highlighted effect is the one in use.
    function test_restoredLightingBackOn_data() {
        return [ { tag: "handed to the motherboard", user: { "RGBControlMode": "MB", "argb_effect": 13 }, clicks: 2, sends: [13, 8] },
                 { tag: "lighting off", user: { "RGB": "OFF", "argb_effect": 13 }, clicks: 1, sends: [1] } ];
    }

    function test_restoredLightingBackOn(data) {
        start(1, data.user);
        compare(item("defaultModeVeil").visible, true, "Default Mode would take the lighting back");
        for (var i = 0; i < data.clicks; ++i)
            mouseClick(item("argbSwitch"));
        compare(sentCodes(), data.sends);
        compare([item("syncSwitch").checked, item("effect_13").selected, item("colourVeil").visible],
                [data.sends[1] === 8, true, true]);
    }

    // Readings arrive as doubles and show as the whole number that passed the
    // range test; units sit on the value's baseline; a light-theme temperature
    // below its warning is black like every other value.
    function test_readings() {
        start(1, { "displayMode": 1 });
        mouseClick(item("labelMonitor"));
        workerThread.reply({ "function": 100, "GPU_count": 1, "MonitorInfoDict": Object.assign(
            { "GpuCurrentFrequency": 2850.7, "GpuCurrentTemperature": 61.9, "VRAM_Temperature": 100.4 }, telemetry) });
        var clock = item("clockTile"), gpu = item("gpuTempTile"), vram = item("vramTempTile");
        compare([clock.value, gpu.value, vram.value], ["2850", "61", "100"]);
        compare([String(gpu.valueItem.color), String(vram.valueItem.color)], ["#000000", "#e91d1d"]);
        compare(clock.unitItem.y + clock.unitItem.baselineOffset, clock.valueItem.y + clock.valueItem.baselineOffset);
    }

    // The picker rounds the hue to whole degrees: the field shows what went out.
    function test_hexEnter_data() {
        return [
            { tag: "FF0102", typed: "FF0102", sent: ["ff", "01", "01"], field: "FF0101" },
            { tag: "too short", typed: "00F", field: "FFFFFF", hint: true },
            { tag: "letter past F", typed: "00G", field: "FFFFFF", hint: true, hintAtOnce: true }
        ];
    }

    function test_hexEnter(data) {
        start(1, { "argb_effect": 1 });
        mouseDoubleClickSequence(item("hexField"));
        verify(item("hexInput").activeFocus, "a click gives the hex field focus");
        for (var i = 0; i < data.typed.length; ++i)
            keyClick(data.typed.charAt(i));
        compare(item("hexHint").visible, !!data.hintAtOnce, "a refused key says what fits at once");
        keyClick(Qt.Key_Return);
        compare(workerThread.requests.map(function (r) { return [r["r_hex"], r["g_hex"], r["b_hex"]]; }),
                data.sent ? [data.sent] : []);
        compare(item("hexInput").text, data.field);
        compare(item("hexHint").visible, !!data.hint);
        if (data.hint) {
            keyClick("A");
            compare(item("hexHint").visible, false, "typing on hides the hint");
        }
    }

    // Arrow keys walk the square and the hue bar as the pointer does: each
    // step is sent and shown, and neither goes past its end.
    function test_pickerKeys() {
        // A colour half way across and down the square.
        start(1, { "argb_effect": 1, "r_hex": "80", "g_hex": "40", "b_hex": "40" });
        var cursor = item("colourCursor"), knob = item("hueKnob");
        var x0 = cursor.x, y0 = cursor.y;
        item("squareKeys").forceActiveFocus();
        keyClick(Qt.Key_Left);
        keyClick(Qt.Key_Down);
        compare([cursor.x, cursor.y], [x0 - 4, y0 + 4], "one key step is 4 pixels");
        compare(workerThread.requests.length, 2, "each step reaches the card");
        var last = workerThread.requests[1];
        compare(item("hexInput").text, (last["r_hex"] + last["g_hex"] + last["b_hex"]).toUpperCase());
        for (var i = 0; i < 40; ++i)
            keyClick(Qt.Key_Left);
        compare(cursor.x, 2, "the cursor stops at the square's edge");
        item("hueKeys").forceActiveFocus();
        for (i = 0; i < 40; ++i)
            keyClick(Qt.Key_Down);
        compare(knob.y, 102, "the knob stops at the bar's end");
    }

    function presetColours() {
        return [0, 1, 2, 3, 4].map(function (i) { return String(item("preset_" + i).color); });
    }

    function applyFan(preset, result) {
        mouseClick(item("preset_" + preset));
        mouseClick(item("applyButton"));
        workerThread.reply({ "function": 3, "resultCheck": result });
        compare(item("failureNotice").visible, result !== 0);
    }

    // A failed Apply goes back to the preset in effect: the restored one, then the one last taken.
    function test_failedApplyReturnsToPresetInEffect() {
        start(1, { "FanControlMode": "MCU", "fanControlBtn": 1 });
        mouseClick(item("labelMonitor"));
        var silent = presetColours();
        applyFan(4, 1);
        compare([w.fanControlBtn, presetColours()], [1, silent]);
        mouseClick(item("noticeCloseButton"));
        applyFan(3, 0);
        var turbo = presetColours();
        verify(String(turbo) !== String(silent));
        applyFan(2, 1);
        compare([w.fanControlBtn, presetColours()], [3, turbo]);
        compare(w.dictDataforWorker["fanSpeed"], 75, "the stale duty is the one in effect");
        compare(item("applyButton").usable, false);
    }
}
