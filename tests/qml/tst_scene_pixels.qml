import QtQuick 2.9
import QtTest 1.2

// What the user can read, from the drawn pixels: dialog texts on their
// ground in both themes, nothing of the page through the dialog, the dimmed
// "Apply" and the hovered "Default Mode" in the light theme. Every picture is
// kept as scene-*.png in the folder the test runs in.
TestCase {
    id: test
    name: "ScenePixels"
    when: windowShown

    ShellFixture { id: fixture }

    property var w: null
    readonly property real readable: 3.0

    function init() {
        w = fixture.create();
        verify(w !== null, "main.qml did not load");
        w.width = w.minimumWidth;
        w.height = w.minimumHeight;
    }

    function cleanup() {
        fixture.destroyScene();
        w = null;
    }

    function item(name) {
        var found = findChild(w.contentItem, name) || findChild(w, name);
        verify(found !== null, "no item " + name);
        return found;
    }

    function start(theme) {
        fixture.passLoading(1, { "displayMode": theme, "argb_effect": 1 });
        w.showMainWindow();
        tryCompare(w, "visible", true);
        waitForRendering(w.contentItem);
    }

    function keep(name) {
        wait(200);
        waitForRendering(w.contentItem);
        var image = grabImage(w.contentItem);
        verify(image.width > 0, "nothing could be grabbed: is there an X server?");
        image.save("scene-" + name + ".png");
    }

    function luminance(r, g, b) {
        function lin(c) { c /= 255; return c <= 0.03928 ? c / 12.92 : Math.pow((c + 0.055) / 1.055, 2.4); }
        return 0.2126 * lin(r) + 0.7152 * lin(g) + 0.0722 * lin(b);
    }

    // Contrast of the strongest ink against the most common colour in the
    // item's box, which is its ground. The window is grabbed whole and the box
    // cut from it.
    function inkContrast(it) {
        waitForRendering(w.contentItem);
        var image = grabImage(w.contentItem);
        var p = it.mapToItem(w.contentItem, 0, 0);
        var x0 = Math.max(0, Math.floor(p.x)), y0 = Math.max(0, Math.floor(p.y));
        var x1 = Math.min(image.width, Math.ceil(p.x + it.width));
        var y1 = Math.min(image.height, Math.ceil(p.y + it.height));
        verify(x1 - x0 > 4 && y1 - y0 > 4, "the item is on screen");
        var counts = {}, best = "", most = 0, x, y;
        for (x = x0; x < x1; ++x)
            for (y = y0; y < y1; ++y) {
                var key = image.red(x, y) + "," + image.green(x, y) + "," + image.blue(x, y);
                counts[key] = (counts[key] || 0) + 1;
                if (counts[key] > most) { most = counts[key]; best = key; }
            }
        var g = best.split(",");
        var ground = luminance(Number(g[0]), Number(g[1]), Number(g[2]));
        var strongest = 1;
        for (x = x0; x < x1; ++x)
            for (y = y0; y < y1; ++y) {
                var l = luminance(image.red(x, y), image.green(x, y), image.blue(x, y));
                strongest = Math.max(strongest, (Math.max(l, ground) + 0.05) / (Math.min(l, ground) + 0.05));
            }
        return strongest;
    }

    function test_driverDialog_data() {
        return [ { tag: "dark", theme: 0 }, { tag: "light", theme: 1 } ];
    }

    function test_driverDialog(data) {
        start(data.theme);
        workerThread.reply({ "function": 16, "resultCheck": 1 });
        waitForRendering(w.contentItem);
        var texts = ["dialogTitle", "dialogExplanation", "intelLink", "contactLink", "setupFailure"];
        for (var i = 0; i < texts.length; ++i) {
            var c = inkContrast(item(texts[i]));
            verify(c >= readable, texts[i] + " reads at " + c.toFixed(2) + ":1");
        }
        keep("driver-dialog-" + data.tag);
        // An empty stretch of the dialog looks the same over any page.
        var ground = item("driverErrorDialog");
        var before = grabImage(w.contentItem);
        w.openPage("Monitor");
        wait(300);
        waitForRendering(w.contentItem);
        var after = grabImage(w.contentItem);
        var differing = 0;
        for (var x = ground.x + 20; x < ground.x + ground.width - 20; x += 2)
            for (var y = ground.y + ground.height - 80; y < ground.y + ground.height - 10; y += 2)
                if (Math.abs(before.red(x, y) - after.red(x, y)) + Math.abs(before.green(x, y) - after.green(x, y))
                        + Math.abs(before.blue(x, y) - after.blue(x, y)) > 6)
                    ++differing;
        compare(differing, 0, "the page behind shows through the dialog");
        mouseClick(item("dialogCloseButton"));
        compare(item("driverErrorDialog").visible, false);
    }

    function test_lightControls() {
        start(1);
        keep("argb-light");
        // The pointer over "Default Mode".
        mouseMove(item("defaultModeButton"), 20, 10);
        waitForRendering(w.contentItem);
        var c = inkContrast(item("defaultModeLabel"));
        verify(c >= readable, "hovered Default Mode reads at " + c.toFixed(2) + ":1");
        mouseMove(w.contentItem, 2, 2);
        // "Apply" dimmed after start-up and after a use, over both its colours.
        mouseClick(item("labelMonitor"));
        waitForRendering(w.contentItem);
        var apply = findChild(item("applyButton"), "buttonLabel");
        c = inkContrast(apply);
        verify(c >= readable, "dimmed Apply on opening reads at " + c.toFixed(2) + ":1");
        keep("monitor-light");
        mouseClick(item("preset_2"));
        mouseClick(item("applyButton"));
        mouseMove(w.contentItem, 2, 2);
        waitForRendering(w.contentItem);
        c = inkContrast(apply);
        verify(c >= readable, "dimmed Apply after use reads at " + c.toFixed(2) + ":1");
    }

    function test_screens_data() {
        return [ { tag: "dark", theme: 0 }, { tag: "light", theme: 1 } ];
    }

    // Pictures of the fixed screens at the smallest window size.
    function test_screens(data) {
        start(data.theme);
        keep("argb-" + data.tag);
        workerThread.reply({ "function": 3, "resultCheck": 1 });
        keep("fan-failed-" + data.tag);
        mouseClick(item("noticeCloseButton"));
        mouseDoubleClickSequence(item("hexField"));
        keyClick("G");
        keep("hex-refused-" + data.tag);
        var hint = inkContrast(item("hexHint"));
        verify(hint >= readable, "the hint reads at " + hint.toFixed(2) + ":1");
        workerThread.reply({ "function": 100, "GPU_count": 0, "MonitorInfoDict": fixture.telemetry({}) });
        keep("no-device-" + data.tag);
        var refresh = inkContrast(findChild(item("refreshButton"), "buttonLabel"));
        verify(refresh >= readable, "refresh reads at " + refresh.toFixed(2) + ":1");
    }
}
