import QtQuick 2.9
import QtTest 1.2

// The real window on the fake worker: what each reply shows, what each click
// sends, the hex field, fan failures and the way out of the driver dialog.
TestCase {
    id: test
    name: "Scene"
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

    // From the content item: the visual search reaches Repeater children.
    function item(name) {
        var found = findChild(w.contentItem, name) || findChild(w, name);
        verify(found !== null, "no item " + name);
        return found;
    }

    function start(cards, userOverrides) {
        fixture.passLoading(cards, userOverrides || {});
        w.showMainWindow();
        tryCompare(w, "visible", true);
        w.requestActivate();
        tryCompare(w, "active", true);
        waitForRendering(w.contentItem);
        workerThread.reset();
    }

    function shown(names) {
        var result = {};
        for (var i = 0; i < names.length; ++i)
            result[names[i]] = item(names[i]).visible;
        return result;
    }

    function hasKeys(request, keys, what) {
        for (var key in keys)
            compare(request[key], keys[key], what + ": key " + key);
    }

    // ---- replies -----------------------------------------------------------------

    readonly property var screens: ["mainArea", "noDeviceScreen", "driverErrorDialog",
                                    "failureNotice", "dimmingOverlay", "downloadScreen"]

    function test_reply_data() {
        var none = { mainArea: true, noDeviceScreen: false, driverErrorDialog: false,
                     failureNotice: false, dimmingOverlay: false, downloadScreen: false };
        function with_(changes) {
            var r = {};
            for (var k in none) r[k] = none[k];
            for (var c in changes) r[c] = changes[c];
            return r;
        }
        var notice = with_({ failureNotice: true, dimmingOverlay: true });
        return [
            { tag: "driver failed, card known", cards: 1, reply: { "function": -2 },
              shows: with_({ driverErrorDialog: true, dimmingOverlay: true }), sends: [] },
            { tag: "driver failed, no card", cards: 0, reply: { "function": -2 },
              shows: with_({ mainArea: false, noDeviceScreen: true }), sends: [] },
            { tag: "lighting failed", cards: 1,
              reply: { "function": 1, "resultCheck_Switch_MCU_MB": 0, "resultCheck_ARGB_Control": 1 },
              shows: notice, sends: [] },
            { tag: "lighting switch failed", cards: 1,
              reply: { "function": 1, "resultCheck_Switch_MCU_MB": 1, "resultCheck_ARGB_Control": 0 },
              shows: notice, sends: [] },
            { tag: "lighting taken", cards: 1,
              reply: { "function": 1, "resultCheck_Switch_MCU_MB": 0, "resultCheck_ARGB_Control": 0 },
              shows: none, sends: [] },
            { tag: "motherboard hand-over failed", cards: 1, reply: { "function": 8, "resultCheck": 1 },
              shows: notice, sends: [] },
            { tag: "fan preset failed", cards: 1, reply: { "function": 3, "resultCheck": 1 },
              shows: notice, sends: [100] },
            { tag: "fan preset without result", cards: 1, reply: { "function": 3 },
              shows: notice, sends: [100] },
            { tag: "fan preset taken", cards: 1, reply: { "function": 3, "resultCheck": 0 },
              shows: none, sends: [100] },
            { tag: "refresh finds no card", cards: 0, reply: { "function": 10, "GPU_count": 0 },
              shows: with_({ mainArea: false, noDeviceScreen: true }), sends: [-1] },
            { tag: "refresh finds a card", cards: 0, reply: { "function": 10, "GPU_count": 1 },
              shows: none, sends: [-1] },
            { tag: "card gone while monitoring", cards: 1,
              reply: { "function": 100, "GPU_count": 0, "MonitorInfoDict": fixture.telemetry({}) },
              shows: with_({ mainArea: false, noDeviceScreen: true }), sends: [] },
            { tag: "unknown code", cards: 1, reply: { "function": 99, "GPU_count": 0 },
              shows: none, sends: [] }
        ];
    }

    function test_reply(data) {
        start(data.cards);
        if (data.cards < 1)
            compare(item("noDeviceScreen").visible, true);
        workerThread.reply(data.reply);
        var expected = {};
        for (var i = 0; i < screens.length; ++i)
            expected[screens[i]] = data.shows[screens[i]];
        compare(shown(screens), expected);
        compare(fixture.sentCodes(), data.sends);
        compare(item("mainArea").opacity, data.shows.failureNotice ? 0.2 : 1.0);
        if (data.shows.failureNotice) {
            mouseClick(item("noticeCloseButton"));
            compare(item("failureNotice").visible, false);
            compare(item("dimmingOverlay").visible, false);
            compare(item("mainArea").opacity, 1.0);
            compare(fixture.sentCodes(), data.sends, "closing the notice sends nothing");
        }
    }

    function test_reinstall_data() {
        var why = "The set-up was cancelled: no administrator permission was given.";
        return [
            { tag: "set-up ran", reply: { "resultCheck": 0 }, quits: 1, shown: "" },
            { tag: "set-up refused", reply: { "resultCheck": 1, "failureText": why }, quits: 0, shown: why },
            { tag: "no reason", reply: { "resultCheck": 1 }, quits: 0,
              shown: "The driver set-up could not be started." }
        ];
    }

    function test_reinstall(data) {
        start(1);
        workerThread.reply({ "function": -2 });
        mouseClick(item("reinstallButton"));
        compare(fixture.sentCodes(), [16]);
        compare(item("driverErrorDialog").visible, false);
        var reply = { "function": 16 };
        for (var k in data.reply)
            reply[k] = data.reply[k];
        workerThread.reply(reply);
        compare(harness.quitCount, data.quits);
        compare(item("driverErrorDialog").visible, data.quits === 0);
        if (data.shown !== "")
            compare(findChild(item("setupFailure"), "label").text, data.shown);
    }

    // The dialog can be left, and what the user does next reaches the worker.
    function test_driverDialogCloses() {
        start(1, { "argb_effect": 5 });
        workerThread.reply({ "function": -2 });
        verify(item("dialogCloseButton").visible);
        mouseClick(item("dialogCloseButton"));
        compare(shown(["driverErrorDialog", "dimmingOverlay", "mainArea"]),
                { driverErrorDialog: false, dimmingOverlay: false, mainArea: true });
        compare(workerThread.requestCount, 0, "closing sends nothing");
        mouseClick(item("effect_1"));
        compare(fixture.sentCodes(), [1], "the next click goes to the card");
        hasKeys(workerThread.lastRequest(), { "effect": 1 }, "Static");
    }

    function test_download_data() {
        var why = "The update server could not provide the file (HTTP 404).";
        return [
            { tag: "99 leaves the screen up", reply: { "progress": 99 }, visible: true, text: "Downloading 99%" },
            { tag: "100 closes it", reply: { "progress": 100 }, visible: false, text: "Downloading 0%" },
            { tag: "no progress changes nothing", reply: {}, visible: true, text: "Downloading 0%" },
            { tag: "failure shows why, with Back", reply: { "downloadResult": 1, "failureText": why },
              visible: true, text: why, back: true }
        ];
    }

    function test_download(data) {
        start(1);
        w.showDownloadScreen();
        var reply = { "function": 12, "downloadFile": 1, "InstallApp": 0 };
        for (var k in data.reply)
            reply[k] = data.reply[k];
        workerThread.reply(reply);
        compare(item("downloadScreen").visible, data.visible);
        compare(findChild(item("downloadText"), "label").text, data.text);
        if (data.back) {
            compare(item("downloadBackButton").visible, true, "no wait for a stall");
            mouseClick(item("downloadBackButton"));
            compare(item("downloadScreen").visible, false);
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
        fixture.destroyScene();
        harness.setTrayAvailable(data.atStart);
        w = fixture.create();
        compare(w.visible, !data.atStart, "without a tray the window is the only way in");
        harness.setTrayAvailable(data.atClose);
        fixture.passLoading(1);
        w.showMainWindow();
        workerThread.reset();
        w.close();
        harness.setTrayAvailable(true);
        compare(harness.quitCount, data.quits);
        compare(fixture.sentCodes(), data.sends);
        compare(w.visible, data.quits === 1);
    }

    // ---- clicks ------------------------------------------------------------------

    function test_click_data() {
        return [
            { tag: "effect Static", user: {}, clicks: ["effect_1"],
              request: { "function": 1, "effect": 1, "ARGBSliderSpeed": 3, "speed": "00",
                         "r_hex": "ff", "g_hex": "ff", "b_hex": "ff" } },
            { tag: "Default Mode", user: { "argb_effect": 1 }, clicks: ["defaultModeButton"],
              request: { "function": 1, "effect": 5 } },
            { tag: "lighting off", user: {}, clicks: ["argbSwitch"],
              request: { "function": 13, "RGB": "OFF", "effect": 1, "r_hex": "00" } },
            { tag: "Turbo, Apply", user: {}, page: "labelMonitor", clicks: ["preset_3", "applyButton"],
              request: { "function": 3, "fanControlBtn": 3, "controlMode": 0, "fanSpeed": 75 } },
            { tag: "Silent, Default, Apply", user: {}, page: "labelMonitor",
              clicks: ["preset_1", "preset_0", "applyButton"],
              request: { "function": 7, "fanControlBtn": 0, "controlMode": 1, "fanSpeed": 30 } },
            { tag: "theme switch", user: {}, page: "labelSetting", clicks: ["themeSwitch"],
              request: { "function": 11, "displayMode": 1 } },
            { tag: "Monitor label", user: {}, clicks: ["labelMonitor"], request: { "function": 100 } }
        ];
    }

    function test_click(data) {
        start(1, data.user);
        if (data.page) {
            mouseClick(item(data.page));
            waitForRendering(w.contentItem);
        }
        workerThread.reset();
        for (var i = 0; i < data.clicks.length; ++i)
            mouseClick(item(data.clicks[i]));
        compare(workerThread.requestCount, 1, "one click, one request");
        hasKeys(workerThread.lastRequest(), data.request, data.tag);
    }

    function test_restoreSendsNothingAndThemeFallsBack_data() {
        return [
            { tag: "light", stored: 1, shown: 1 },
            { tag: "2 is dark", stored: 2, shown: 0 },
            { tag: "-1 is dark", stored: -1, shown: 0 }
        ];
    }

    function test_restoreSendsNothingAndThemeFallsBack(data) {
        fixture.replyStartUp(1, { "displayMode": data.stored, "RGB": "OFF", "RGBControlMode": "MCU",
                                  "ARGBSliderSpeed": 5 });
        compare(fixture.sentCodes(), [-1], "only the start-up request");
        compare(w.displayMode, data.shown);
        compare(w.dictDataforWorker["displayMode"], data.stored);
        fixture.replyMonitor(1);
        compare(fixture.sentCodes(), [-1, 101]);
        compare(item("loadingScreen").active, false);
    }

    // ---- hex field ---------------------------------------------------------------

    function typeHex(text) {
        mouseDoubleClickSequence(item("hexField"));
        verify(item("hexInput").activeFocus, "a click gives the hex field focus");
        for (var i = 0; i < text.length; ++i)
            keyClick(text.charAt(i));
    }

    function test_hexEnter_data() {
        return [
            // The picker rounds the hue to whole degrees: the field shows what went out.
            { tag: "FF0102", typed: "FF0102", sent: ["ff", "01", "01"], field: "FF0101", hint: false },
            { tag: "green", typed: "00ff00", sent: ["00", "ff", "00"], field: "00FF00", hint: false },
            { tag: "unchanged", typed: "", sent: ["ff", "ff", "ff"], field: "FFFFFF", hint: false },
            { tag: "too short", typed: "00F", sent: null, field: "FFFFFF", hint: true },
            { tag: "letter past F", typed: "00G", sent: null, field: "FFFFFF", hint: true }
        ];
    }

    function test_hexEnter(data) {
        start(1, { "argb_effect": 1 });
        if (data.typed === "")
            mouseClick(item("hexField"));
        else
            typeHex(data.typed);
        if (data.tag === "letter past F")
            compare(item("hexHint").visible, true, "a refused key says what fits at once");
        keyClick(Qt.Key_Return);
        if (data.sent === null) {
            compare(workerThread.requestCount, 0);
        } else {
            compare(workerThread.requestCount, 1);
            var r = workerThread.lastRequest();
            compare([r["r_hex"], r["g_hex"], r["b_hex"]], data.sent);
            compare(w.hex_color, "#" + data.sent.join(""));
        }
        compare(item("hexInput").text, data.field);
        compare(item("hexHint").visible, data.hint);
        if (data.hint) {
            keyClick("A");
            compare(item("hexHint").visible, false, "typing on hides the hint");
        }
    }

    function test_typedGreenMovesPicker() {
        start(1, { "argb_effect": 1 });
        typeHex("00FF00");
        keyClick(Qt.Key_Return);
        fuzzyCompare(item("hueKnob").y, 120 / 360 * 102, 1e-6);
        compare([item("colourCursor").x, item("colourCursor").y], [116, 0]);
        compare(item("hexInput").activeFocus, false);
    }

    // ---- fan failures ------------------------------------------------------------

    function presetColours() {
        var c = [];
        for (var i = 0; i < 5; ++i)
            c.push(String(item("preset_" + i).color));
        return c;
    }

    function test_failedApplyReturnsToPresetInEffect() {
        start(1, { "FanControlMode": "MCU", "fanControlBtn": 1 });
        mouseClick(item("labelMonitor"));
        var silentSelected = presetColours();
        // Turbo is taken, then Medium fails: the selection goes back to Turbo.
        mouseClick(item("preset_3"));
        mouseClick(item("applyButton"));
        workerThread.reply({ "function": 3, "resultCheck": 0 });
        var turboSelected = presetColours();
        mouseClick(item("preset_2"));
        mouseClick(item("applyButton"));
        workerThread.reply({ "function": 3, "resultCheck": 1 });
        compare(item("failureNotice").visible, true);
        compare(w.fanControlBtn, 3);
        compare(presetColours(), turboSelected);
        compare(w.dictDataforWorker["fanSpeed"], 75, "the stale duty is the one in effect");
        compare(item("applyButton").usable, false);
        mouseClick(item("noticeCloseButton"));
        // A failure right after start-up goes back to the restored preset.
        w.fanControlBtn = 0;
        item("monitorPage").presetInEffect = 1;
        mouseClick(item("preset_4"));
        mouseClick(item("applyButton"));
        workerThread.reply({ "function": 3, "resultCheck": 1 });
        compare(w.fanControlBtn, 1);
        compare(presetColours(), silentSelected);
    }

    // ---- smallest window ---------------------------------------------------------

    function rectOf(it) {
        var p = it.mapToItem(w.contentItem, 0, 0);
        return { x: p.x, y: p.y, r: p.x + it.width, b: p.y + it.height };
    }

    function overlaps(a, b) {
        return a.x < b.r && b.x < a.r && a.y < b.b && b.y < a.b;
    }

    function test_smallestWindow_data() {
        return [ { tag: "dark", theme: 0 }, { tag: "light", theme: 1 } ];
    }

    function test_smallestWindow(data) {
        w.width = w.minimumWidth;
        w.height = w.minimumHeight;
        start(1, { "displayMode": data.theme });
        var labels = ["labelMonitor", "labelARGB", "labelSetting"];
        var panels = ["effectsPanel", "rgbPanel", "monitorPage", "settingPage"];
        for (var i = 0; i < labels.length; ++i)
            for (var j = 0; j < panels.length; ++j)
                verify(!overlaps(rectOf(item(labels[i])), rectOf(item(panels[j]))),
                       labels[i] + " clear of " + panels[j]);
        var all = ["speedPanel", "colorsPanel", "effectsPanel"];
        for (var k = 0; k < all.length; ++k) {
            var r = rectOf(item(all[k]));
            verify(r.r <= w.width && r.b <= w.height, all[k] + " inside the window");
        }
        workerThread.reply({ "function": 100, "GPU_count": 0, "MonitorInfoDict": fixture.telemetry({}) });
        var refresh = rectOf(item("refreshButton"));
        verify(refresh.b <= w.height && refresh.r <= w.width, "refresh inside the window");
        // The slider's ends are named, slow at the left.
        verify(rectOf(item("speedSlow")).x < rectOf(item("speedFast")).x);
    }
}
