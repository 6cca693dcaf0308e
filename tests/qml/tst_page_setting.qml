import QtQuick 2.9
import QtTest 1.2

// The Setting page in the real window: the theme switch, the version line and
// the update offer with its red dot.
TestCase {
    id: test
    name: "SettingPage"
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
        var found = findChild(w.contentItem, name) || findChild(w, name);
        verify(found !== null, "no item " + name);
        return found;
    }

    function start(userOverrides, telemetryOverrides) {
        workerThread.reply({ "function": 0, "GPU_count": 1, "appVersion": "25.4.0",
                             "MonitorInfoDict": fixture.telemetry(telemetryOverrides || {}),
                             "userControlData": fixture.userData(userOverrides || {}) });
        fixture.replyMonitor(1);
        w.showMainWindow();
        tryCompare(w, "visible", true);
        w.requestActivate();
        tryCompare(w, "active", true);
        mouseClick(item("labelSetting"));
        workerThread.reset();
    }

    function offerUpdate() {
        workerThread.reply({ "function": 100, "GPU_count": 1,
                             "MonitorInfoDict": fixture.telemetry({ "updateApp": 1 }) });
    }

    function knobs() {
        return [String(item("themeKnob_left").color), String(item("themeKnob_right").color)];
    }

    function test_themeSwitchTwice() {
        start({});
        compare(knobs(), ["#142a59", "#313131"]);
        mouseClick(item("themeSwitch"));
        compare(w.displayMode, 1);
        compare(workerThread.lastRequest()["function"], 11);
        compare(workerThread.lastRequest()["displayMode"], 1);
        compare(knobs(), ["#b9c2d2", "#6b90d7"]);
        compare(String(item("themeSwitch").color), "#b9c2d2");
        mouseClick(item("themeSwitch"));
        compare(w.displayMode, 0);
        compare(fixture.sentCodes(), [11, 11]);
        compare(workerThread.request(0)["displayMode"], 1);
        compare(workerThread.request(1)["displayMode"], 0);
        compare(knobs(), ["#142a59", "#313131"]);
    }

    function test_themeSwitchFromUnknownStoredTheme() {
        start({ "displayMode": 2 });
        compare(w.displayMode, 0);
        mouseClick(item("themeSwitch"));
        compare(workerThread.lastRequest()["displayMode"], 1, "drawn dark, so the switch goes to light");
    }

    function test_versionLine() {
        start({});
        compare(item("versionLine").mText, "TARVELL VORN 25.4.0 Version");
    }

    function test_noOfferNoUpdate() {
        start({});
        compare(item("updateDot").visible, false);
        mouseClick(item("updateButton"));
        compare(workerThread.requestCount, 0, "Update takes no click without an offer");
        compare(item("downloadScreen").visible, false);
    }

    function test_offerAtStartUp() {
        start({}, { "updateApp": 1, "CheckCTL": 0 });
        compare(item("updateDot").visible, true, "the offer does not depend on CheckCTL");
    }

    function test_updateClick() {
        start({});
        offerUpdate();
        compare(item("updateDot").visible, true);
        var button = item("updateButton");
        mouseMove(button, 10, 10);
        compare(String(button.color), "#1d428a");
        mouseClick(button);
        compare(workerThread.requestCount, 1);
        compare(workerThread.lastRequest()["function"], 12);
        compare(workerThread.lastRequest()["controlMode"], 1);
        compare(w.hasClickUpdate, true);
        compare(button.opacity, 0.2);
        compare(item("downloadScreen").visible, true);
        compare(item("downloadAnimation").playing, true);
        mouseClick(button);
        compare(workerThread.requestCount, 1, "one update at a time");
    }

    function test_offerAfterStartedUpdateKeepsDotAway() {
        start({});
        offerUpdate();
        mouseClick(item("updateButton"));
        workerThread.reply({ "function": 12, "downloadFile": 1, "InstallApp": 0, "progress": 100 });
        compare(item("updateDot").visible, false);
        compare(item("downloadScreen").visible, false);
        compare(String(item("updateButton").color), "#122143", "a download reply paints the button");
        offerUpdate();
        compare(item("updateDot").visible, false, "an update already started is not offered again");
        workerThread.reset();
        mouseClick(item("updateButton"));
        compare(workerThread.requestCount, 0);
    }

    function test_updateButtonColours() {
        start({ "displayMode": 1 });
        var button = item("updateButton");
        compare(String(button.color), "#e8efff");
        offerUpdate();
        mouseMove(button, 10, 10);
        compare(String(button.color), "#b1c3e6");
        mouseMove(item("versionLine"), 5, 5);
        compare(String(button.color), "#e4e9f6", "once the pointer has left");
        w.displayMode = 0;
        compare(String(button.color), "#122143");
    }
}
