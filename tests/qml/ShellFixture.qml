import QtQuick 2.9
import QtTest 1.2

// The base of every scene test: the real window at its smallest size on the
// stand-in worker and tray of main.cpp, and the worker's start-up replies.
TestCase {
    when: windowShown

    property var w: null

    function init() {
        workerThread.requests = [];
        harness.quits = 0;
        var component = Qt.createComponent("qrc:/main.qml");
        verify(component.status === Component.Ready, component.errorString());
        w = component.createObject(null);
        w.width = w.minimumWidth;
        w.height = w.minimumHeight;
    }

    function cleanup() {
        w.destroy();
    }

    // From the content item: the visual search reaches Repeater children.
    function item(name) {
        var found = findChild(w.contentItem, name) || findChild(w, name);
        verify(found !== null, "no item " + name);
        return found;
    }

    readonly property var telemetry: ({ "CheckCTL": 1, "AdapterName": "Intel(R) Arc(TM) B580 Graphics",
                                        "deviceName": "TARVELL Intel Arc B580 ZEPH MIRO OC ULTRA" })

    function replyStartUp(cards, user) {
        var data = { "RGB": "ON", "RGBControlMode": "MCU", "argb_effect": 5, "r_hex": "FF", "g_hex": "FF",
                     "b_hex": "FF", "speed": "00", "ARGBSliderSpeed": 3, "displayMode": 0,
                     "FanControlMode": "GPU", "fanControlBtn": 0, "fanSpeed": 0, "appVersion": "25.4.0" };
        workerThread.reply({ "function": 0, "GPU_count": cards, "appVersion": "25.4.0", "startGUI": 0,
                             "MonitorInfoDict": telemetry, "userControlData": Object.assign(data, user) });
    }

    function replyMonitor(cards) {
        workerThread.reply({ "function": 100, "GPU_count": cards, "MonitorInfoDict": telemetry });
    }

    // Start-up as the worker runs it, then the window up and focused, no request kept.
    function start(cards, user) {
        replyStartUp(cards, user || {});
        replyMonitor(cards);
        w.showMainWindow();
        tryCompare(w, "active", true);
        waitForRendering(w.contentItem);
        workerThread.requests = [];
    }

    function sentCodes() {
        return workerThread.requests.map(function (r) { return r["function"]; });
    }
}
