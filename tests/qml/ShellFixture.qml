import QtQuick 2.9

// Creates the real window on the fake worker and tray, and plays the worker's
// start-up replies. Shared by the scene tests; see main.cpp for the fakes.
QtObject {
    id: fixture

    property var window: null

    function create() {
        workerThread.reset();
        trayManager.reset();
        harness.resetQuitCount();
        var component = Qt.createComponent("qrc:/main.qml");
        if (component.status !== Component.Ready) {
            console.warn(component.errorString());
            return null;
        }
        window = component.createObject(null);
        return window;
    }

    function destroyScene() {
        if (window) {
            window.destroy();
            window = null;
        }
    }

    function userData(overrides) {
        var data = {
            "RGB": "ON", "RGBControlMode": "MCU", "argb_effect": 5,
            "r_hex": "FF", "g_hex": "FF", "b_hex": "FF", "speed": "00",
            "ARGBSliderSpeed": 3, "displayMode": 0, "FanControlMode": "GPU",
            "fanControlBtn": 0, "fanSpeed": 0, "appVersion": "25.4.0", "serverVersion": ""
        };
        for (var key in overrides)
            data[key] = overrides[key];
        return data;
    }

    function telemetry(overrides) {
        var data = { "CheckCTL": 1, "AdapterName": "Intel(R) Arc(TM) B580 Graphics",
                     "deviceName": "TARVELL Intel Arc B580 ZEPH MIRO OC ULTRA",
                     "updateApp": 0 };
        for (var key in overrides)
            data[key] = overrides[key];
        return data;
    }

    function replyStartUp(cards, userOverrides) {
        workerThread.reply({ "function": 0, "GPU_count": cards, "appVersion": "25.4.0",
                             "startGUI": 0, "MonitorInfoDict": telemetry({}),
                             "userControlData": userData(userOverrides || {}) });
    }

    function replyMonitor(cards) {
        workerThread.reply({ "function": 100, "GPU_count": cards,
                             "MonitorInfoDict": telemetry({}) });
    }

    // Start-up as the worker runs it: reply 0, then the first monitoring reply.
    function passLoading(cards, userOverrides) {
        replyStartUp(cards, userOverrides);
        replyMonitor(cards);
    }

    // Copies of the fake worker's requests, oldest first, "function" codes only.
    function sentCodes() {
        var codes = [];
        var all = workerThread.requests();
        for (var i = 0; i < all.length; ++i)
            codes.push(all[i]["function"]);
        return codes;
    }
}
