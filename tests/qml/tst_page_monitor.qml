import QtQuick 2.9
import QtTest 1.2

// The Monitor page in the real window: telemetry checks and warnings, the unit
// labels, and the fan panel with its presets and "Apply".
TestCase {
    id: test
    name: "MonitorPage"
    when: windowShown

    ShellFixture { id: fixture }

    property var w: null
    property var page: null

    function init() {
        w = fixture.create();
        verify(w !== null, "main.qml did not load");
        page = item("monitorPage");
    }

    function cleanup() {
        fixture.destroyScene();
        w = null;
        page = null;
    }

    function item(name) {
        var found = findChild(w.contentItem, name) || findChild(w, name);
        verify(found !== null, "no item " + name);
        return found;
    }

    function within(parentName, name) {
        var found = findChild(item(parentName), name);
        verify(found !== null, "no " + name + " in " + parentName);
        return found;
    }

    function start(userOverrides) {
        fixture.passLoading(1, userOverrides || {});
        w.showMainWindow();
        tryCompare(w, "visible", true);
        w.requestActivate();
        tryCompare(w, "active", true);
        mouseClick(item("labelMonitor"));
        workerThread.reset();
    }

    function telemetry(values) {
        workerThread.reply({ "function": 100, "GPU_count": 1, "MonitorInfoDict": fixture.telemetry(values) });
    }

    function valueColour(tile) {
        return String(within(tile, "value").color);
    }

    // ---- telemetry -------------------------------------------------------------------

    function test_gpuTemperatureWarning() {
        start({});
        telemetry({ "GpuCurrentTemperature": 90 });
        compare(within("gpuTempTile", "value").text, "90");
        compare(within("gpuTempTile", "warning").visible, true);
        compare(valueColour("gpuTempTile"), "#e91d1d");
        telemetry({ "GpuCurrentTemperature": 89 });
        compare(within("gpuTempTile", "value").text, "89");
        compare(within("gpuTempTile", "warning").visible, false);
        compare(valueColour("gpuTempTile"), "#e2e2e2");
    }

    function test_temperatureColourLight() {
        start({ "displayMode": 1 });
        telemetry({ "GpuCurrentTemperature": 95, "VRAM_Temperature": 60 });
        compare(valueColour("gpuTempTile"), "#e91d1d");
        compare(valueColour("vramTempTile"), "#000000");
        telemetry({ "GpuCurrentTemperature": 70 });
        compare(valueColour("gpuTempTile"), "#000000");
    }

    function test_vramTemperatureWarning() {
        start({});
        telemetry({ "VRAM_Temperature": 99 });
        compare(within("vramTempTile", "value").text, "99");
        compare(within("vramTempTile", "warning").visible, false);
        telemetry({ "VRAM_Temperature": 100 });
        compare(within("vramTempTile", "value").text, "100");
        compare(within("vramTempTile", "warning").visible, true);
        compare(valueColour("vramTempTile"), "#e91d1d");
    }

    function test_clockOutOfRangeKeepsPrevious() {
        start({});
        telemetry({ "GpuCurrentFrequency": 2400 });
        compare(within("clockTile", "value").text, "2400");
        telemetry({ "GpuCurrentFrequency": 0 });
        compare(within("clockTile", "value").text, "2400");
        telemetry({ "GpuCurrentFrequency": 20000 });
        compare(within("clockTile", "value").text, "2400");
        telemetry({ "GpuCurrentFrequency": 19999.7 });
        compare(within("clockTile", "value").text, "19999");
    }

    function test_temperatureOutOfRangeKeepsValueAndWarning_data() {
        return [
            { tag: "-5", value: -5 },
            { tag: "201", value: 201 },
            { tag: "text", value: "hot" }
        ];
    }

    function test_temperatureOutOfRangeKeepsValueAndWarning(data) {
        start({});
        telemetry({ "GpuCurrentTemperature": 95, "VRAM_Temperature": 40 });
        telemetry({ "GpuCurrentTemperature": data.value, "VRAM_Temperature": data.value });
        compare(within("gpuTempTile", "value").text, "95");
        compare(within("gpuTempTile", "warning").visible, true);
        compare(valueColour("gpuTempTile"), "#e91d1d");
        compare(within("vramTempTile", "value").text, "40");
        compare(within("vramTempTile", "warning").visible, false);
    }

    function test_resizableBar() {
        start({});
        telemetry({ "ResizableBar": "0" });
        compare(page.resizableBar, "Unable");
        compare(findChild(item("factsPanel"), "fact_resizableBar").mText, "Unable");
        telemetry({ "ResizableBar": "1" });
        compare(page.resizableBar, "Enabled");
    }

    function test_checkCtlZeroChangesNothing() {
        start({});
        telemetry({ "GpuCurrentFrequency": 2000, "GpuCurrentTemperature": 95, "FanSpeed": 1500,
                    "CPU_Name": "first cpu", "ResizableBar": "1", "GPU_Utilization": 40 });
        w.displayMode = 1;      // values drop to the theme's text colour until the next reading
        var before = {
            clock: within("clockTile", "value").text, temp: within("gpuTempTile", "value").text,
            fan: page.fanSpeed, cpu: page.cPU_Name, bar: page.resizableBar, util: page.gPU_Utilization,
            title: page.adapterName, warning: within("gpuTempTile", "warning").visible,
            colour: String(page.valueColour)
        };
        compare(before.colour, "#585858");
        workerThread.reply({ "function": 100, "GPU_count": 1, "MonitorInfoDict": {
            "CheckCTL": 0, "GpuCurrentFrequency": 900, "GpuCurrentTemperature": 50, "FanSpeed": 700,
            "CPU_Name": "second cpu", "ResizableBar": "0", "GPU_Utilization": 3, "deviceName": "other" } });
        var after = {
            clock: within("clockTile", "value").text, temp: within("gpuTempTile", "value").text,
            fan: page.fanSpeed, cpu: page.cPU_Name, bar: page.resizableBar, util: page.gPU_Utilization,
            title: page.adapterName, warning: within("gpuTempTile", "warning").visible,
            colour: String(page.valueColour)
        };
        compare(after, before);
        // Called directly too: the page itself refuses the dictionary.
        page.applyTelemetry({ "CheckCTL": "0", "GpuCurrentFrequency": 900 }, "deviceName");
        compare(within("clockTile", "value").text, "2000");
        telemetry({});
        compare(String(page.valueColour), "#000000", "the next reading paints the values black");
    }

    function test_unitFollowsValueWidth() {
        start({});
        var value = within("clockTile", "value");
        var unit = within("clockTile", "unit");
        telemetry({ "GpuCurrentFrequency": 950 });
        var narrow = unit.x;
        compare(unit.x, value.x + value.contentWidth + 5);
        telemetry({ "GpuCurrentFrequency": 1950 });
        verify(unit.x > narrow, "MHz moves right as the clock gains a digit: " + narrow + " -> " + unit.x);
        compare(unit.x, value.x + value.contentWidth + 5);
        telemetry({ "GpuCurrentFrequency": 950 });
        compare(unit.x, narrow);
    }

    function test_adapterNameFromEitherReply() {
        fixture.replyStartUp(1, {});
        compare(page.adapterName, "Intel(R) Arc(TM) B580 Graphics", "reply 0 names the adapter");
        compare(item("adapterTitle").mText, "Intel(R) Arc(TM) B580 Graphics");
        fixture.replyMonitor(1);
        compare(page.adapterName, "TARVELL Intel Arc B580 ZEPH MIRO OC ULTRA", "reply 100 names the card");
    }

    function test_factsAndReadings() {
        start({});
        telemetry({ "DriverVersion": "6.17.0.0", "PCIE": "PCIE 4.0 X8", "CPU_Name": "Ryzen",
                    "TotalSysRAM": "32 GB", "MotherboardModel": "B650", "FanSpeed": 1234.6,
                    "GPU_Utilization": 37.5, "VendorID": "8086", "PsysPower": 120.4 });
        compare(findChild(item("factsPanel"), "fact_driverVersion").mText, "6.17.0.0");
        compare(findChild(item("factsPanel"), "fact_pcieInfo").mText, "PCIE 4.0 X8");
        compare(findChild(item("factsPanel"), "fact_totalSysRAM").mText, "32 GB");
        compare(findChild(item("systemPanel"), "cpuName").mText, "Ryzen");
        compare(findChild(item("systemPanel"), "motherboardModel").mText, "B650");
        compare(within("fanTile", "value").text, "1234");
        compare(within("utilisationTile", "value").text, "37");
        compare(page.vendorID, "8086");
        compare(page.board_Power, 120);
        compare(item("boardPowerTile").visible, false, "board power is held, not shown");
    }

    // ---- fan panel --------------------------------------------------------------------

    function presetColour(index) {
        return String(item("preset_" + index).color);
    }

    function test_turboThenApply() {
        start({});
        mouseClick(item("preset_3"));
        compare(workerThread.requestCount, 0, "a preset click sends nothing");
        compare(w.fanControlBtn, 3);
        compare(w.fanSpeedControl, "75");
        compare(presetColour(3), "#1d428a");
        compare(presetColour(0), "#142a59");
        compare(String(findChild(item("applyButton"), "buttonLabel").mcolor), "#e2e2e2", "Apply usable");
        mouseClick(item("applyButton"));
        compare(workerThread.requestCount, 1);
        var r = workerThread.lastRequest();
        compare([r["function"], r["fanControlBtn"], r["controlMode"], r["fanSpeed"]], [3, 3, 0, 75]);
        compare(String(findChild(item("applyButton"), "buttonLabel").mcolor), "#7e7e91", "Apply dimmed");
        mouseClick(item("applyButton"));
        compare(workerThread.requestCount, 1, "Apply takes no click until the next preset click");
        workerThread.reply({ "function": 3, "fanSpeedSetting": 75, "resultCheck": 0 });
        compare(fixture.sentCodes(), [3, 100]);
    }

    function test_silentDefaultApply() {
        start({});
        mouseClick(item("preset_1"));
        mouseClick(item("preset_0"));
        compare(presetColour(0), "#1d428a");
        compare(presetColour(1), "#142a59");
        mouseClick(item("applyButton"));
        var r = workerThread.lastRequest();
        compare(r["function"], 7);
        compare(r["controlMode"], 1);
        compare(r["fanControlBtn"], 0);
        compare(r["fanSpeed"], 30, "the stale duty travels along");
        compare(workerThread.requestCount, 1);
    }

    function test_applyUnusableAfterStart() {
        start({});
        mouseClick(item("applyButton"));
        compare(workerThread.requestCount, 0);
    }

    function test_applyHover() {
        start({});
        mouseClick(item("preset_2"));
        var apply = item("applyButton");
        mouseMove(apply, 10, 10);
        compare(String(apply.color), "#1d428a");
        mouseMove(item("preset_2"), 10, 10);
        compare(String(apply.color), "#152d5e");
    }

    function test_restoredPresetShownOnOpen() {
        fixture.passLoading(1, { "FanControlMode": "MCU", "fanControlBtn": 4 });
        compare(w.fanControlBtn, 4);
        compare(w.fanSpeedControl, "100");
        w.showMainWindow();
        tryCompare(w, "visible", true);
        w.requestActivate();
        tryCompare(w, "active", true);
        mouseClick(item("labelMonitor"));
        compare(presetColour(4), "#1d428a", "Full Speed selected");
        for (var i = 0; i < 4; ++i)
            compare(presetColour(i), "#142a59");
        compare(String(item("applyButton").color), "#142a59");
        compare(String(findChild(item("applyButton"), "buttonLabel").mcolor), "#7e7e91", "Apply dimmed");
        workerThread.reset();
        mouseClick(item("applyButton"));
        compare(workerThread.requestCount, 0);
    }

    function test_restoreGpuSelectsDefault() {
        fixture.passLoading(1, { "FanControlMode": "GPU", "fanControlBtn": 3 });
        compare(w.fanControlBtn, 0);
        compare(presetColour(0), "#1d428a");
    }

    function test_themeChangeUnselectsUntilOpened() {
        start({});
        mouseClick(item("preset_2"));
        w.displayMode = 1;
        for (var i = 0; i < 5; ++i)
            compare(presetColour(i), "#cddeff", "preset " + i + " unselected in light");
        compare(String(item("applyButton").color), "#cddeff");
        compare(String(page.valueColour), "#585858");
        mouseClick(item("labelMonitor"));
        compare(presetColour(2), "#688be8", "highlighted again when the page opens");
        w.displayMode = 0;
        compare(presetColour(2), "#142a59");
        compare(String(page.valueColour), "#e2e2e2");
    }
}
