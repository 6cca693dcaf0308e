import QtQuick 2.9
import QtTest 1.2

// The "Custom" fan choice and its curve editor in the real window at its
// smallest size: the rules points keep under keys and the mouse, what Save,
// Cancel and Apply send, and the running duty beside "Custom".
ShellFixture {
    name: "FanCurve"

    function openEditor(user) {
        start(1, user);
        mouseClick(item("labelMonitor"));
        waitForRendering(w.contentItem);
        workerThread.requests = [];
        mouseClick(item("preset_5"));
        verify(item("curveEditor").visible);
        return item("curveEditor");
    }

    function press(key, times, modifiers) {
        for (var i = 0; i < (times || 1); ++i)
            keyClick(key, modifiers || Qt.NoModifier);
    }

    // Keys on a focused point, starting from the default curve
    // [[35,25],[50,30],[65,45],[75,65],[85,100]] unless the row brings its own.
    function test_keys_data() {
        return [
            { tag: "right stops 1 degC before the next point", point: 0, key: Qt.Key_Right, times: 20, expect: [49, 25] },
            { tag: "left stops at 20 degC", point: 0, key: Qt.Key_Left, times: 4, shift: true, expect: [20, 25] },
            { tag: "up stops at the next point's duty", point: 1, key: Qt.Key_Up, times: 30, expect: [50, 45] },
            { tag: "down stops at the previous point's duty", point: 1, key: Qt.Key_Down, times: 30, expect: [50, 25] },
            { tag: "below 30 % only up to 50 degC", point: 2, key: Qt.Key_Down, times: 40, expect: [65, 30] },
            { tag: "the last point goes to 100 degC", point: 4, key: Qt.Key_Right, times: 30, expect: [100, 100] },
            { tag: "down to 0 at the first point", point: 0, key: Qt.Key_Down, times: 40, expect: [35, 0] },
            { tag: "the quiet point moved past 50 degC is lifted to 30 %", point: 0, key: Qt.Key_Right, times: 15,
              user: { "FanControlMode": "CURVE", "fanCurve": [[40, 0], [60, 50]] }, expect: [55, 30] }
        ];
    }

    function test_keys(data) {
        var editor = openEditor(data.user);
        for (var i = 0; i < data.point; ++i)
            keyClick(Qt.Key_Tab);
        verify(item("curvePoint_" + data.point).activeFocus, "Tab reaches the point");
        press(data.key, data.times, data.shift ? Qt.ShiftModifier : Qt.NoModifier);
        compare(editor.points[data.point], data.expect);
        compare(workerThread.requests.length, 0, "editing sends nothing");
    }

    function test_dragKeepsTheRules() {
        var editor = openEditor();
        var plot = item("curvePlot"), p = item("curvePoint_2");
        mousePress(p, p.width / 2, p.height / 2);
        // Far down and right: at most the next point's temperature less 1, never quiet.
        var to = plot.mapToItem(p, plot.width * 0.9, plot.height);
        mouseMove(p, to.x, to.y, -1, Qt.LeftButton);
        mouseRelease(p, to.x, to.y);
        compare(editor.points[2], [74, 30]);
        compare(editor.points.length, 5);
    }

    function test_addAndRemoveStayWithin2To8() {
        var editor = openEditor();
        for (var i = 0; i < 6; ++i)
            mouseClick(item("curveAddButton"));
        compare(editor.points.length, 8);
        compare(item("curveAddButton").usable, false);
        verify(editor.points.every(function (p, k) {
            return k === 0 || (p[0] > editor.points[k - 1][0] && p[1] >= editor.points[k - 1][1]);
        }), JSON.stringify(editor.points));
        for (i = 0; i < 8; ++i)
            mouseClick(item("curveRemoveButton"));
        compare(editor.points.length, 2);
        compare(item("curveRemoveButton").usable, false);
    }

    function test_saveThenApplySendsTheCurve_data() {
        return [ { tag: "mouse", keyboard: false }, { tag: "keyboard", keyboard: true } ];
    }

    function test_saveThenApplySendsTheCurve(data) {
        var editor = openEditor();
        press(Qt.Key_Up, 5); // the first point to 30 %
        if (data.keyboard) {
            for (var i = 0; i < 4 + 2 + 1 + 1; ++i) // past the other points, the two edit buttons and Cancel
                keyClick(Qt.Key_Tab);
            verify(item("curveSaveButton").activeFocus);
            keyClick(Qt.Key_Space);
        } else {
            mouseClick(item("curveSaveButton"));
        }
        verify(!editor.visible);
        compare(workerThread.requests.length, 0, "Save only chooses");
        compare(w.fanControlBtn, 5);
        mouseClick(item("applyButton"));
        compare(workerThread.requests.length, 1);
        var sent = workerThread.requests[0];
        compare([sent["function"], sent["fanControlBtn"]], [17, 5]);
        compare(sent["fanCurve"], [[35, 30], [50, 30], [65, 45], [75, 65], [85, 100]]);
    }

    function test_cancelChangesNothing_data() {
        return [ { tag: "Cancel", escape: false }, { tag: "Escape", escape: true } ];
    }

    function test_cancelChangesNothing(data) {
        var editor = openEditor({ "FanControlMode": "MCU", "fanControlBtn": 2 });
        press(Qt.Key_Up, 3);
        if (data.escape)
            keyClick(Qt.Key_Escape);
        else
            mouseClick(item("curveCancelButton"));
        verify(!editor.visible);
        compare([w.fanControlBtn, item("applyButton").usable, workerThread.requests.length], [2, false, 0]);
        mouseClick(item("preset_5"));
        compare(editor.points[0], [35, 25], "the edit was dropped");
    }

    // The restored curve is the one edited; the running duty shows beside
    // "Custom" and on the editor's marker.
    function test_runningCurve() {
        var editor = openEditor({ "FanControlMode": "CURVE", "fanControlBtn": 5,
                                  "fanCurve": [[40, 20], [60, 40], [80, 90]] });
        compare(editor.points, [[40, 20], [60, 40], [80, 90]]);
        keyClick(Qt.Key_Escape);
        var label = findChild(item("preset_5"), "buttonLabel");
        compare(label.mText, "Custom");
        workerThread.reply({ "function": 100, "GPU_count": 1, "MonitorInfoDict":
                             Object.assign({ "fanCurveDuty": 45, "GpuCurrentTemperature": 61.0,
                                             "VRAM_Temperature": 63.0 }, telemetry) });
        compare(label.mText, "Custom \u00B7 45 %");
        mouseClick(item("preset_5"));
        compare([editor.liveTemp, editor.liveDuty], [63, 45]);
        verify(item("liveMarker").visible);
    }

    // Inside the smallest window in both themes, and drawn in each theme's colours.
    function test_fitsTheSmallestWindow_data() {
        return [ { tag: "dark", mode: 0 }, { tag: "light", mode: 1 } ];
    }

    function test_fitsTheSmallestWindow(data) {
        openEditor({ "displayMode": data.mode });
        var box = item("curveEditorBox");
        var at = box.mapToItem(w.contentItem, 0, 0);
        verify(at.x >= 0 && at.y >= 0 && at.x + box.width <= w.width && at.y + box.height <= w.height,
               JSON.stringify([at.x, at.y, box.width, box.height, w.width, w.height]));
        compare(String(box.color), data.mode === 0 ? "#0b1838" : "#e4eaf7");
    }
}
