import QtQuick 2.9
import QtTest 1.2
import "qrc:/pages/Telemetry.js" as Telemetry
import "qrc:/pages/Fan.js" as Fan
import "qrc:/pages/Setting.js" as Setting

// What the Monitor and Setting pages decide, without the pages: which telemetry
// values are trusted, the fan presets and their requests, the update offer.
TestCase {
    name: "MonitorLogic"

    // The updates of one dictionary as a field -> value map.
    function readMap(dict, nameKey) {
        var list = Telemetry.read(dict, nameKey);
        var map = {};
        for (var i = 0; i < list.length; ++i)
            map[list[i].field] = list[i].value;
        return map;
    }

    function test_checkCtl_data() {
        return [
            { tag: "1", value: 1, read: true },
            { tag: "text 1", value: "1", read: true },
            { tag: "0", value: 0, read: false },
            { tag: "2", value: 2, read: false },
            { tag: "text", value: "yes", read: false },
            { tag: "missing", value: undefined, read: false }
        ];
    }

    function test_checkCtl(data) {
        var dict = { "DriverVersion": "6.17.0.0", "GpuCurrentFrequency": 2850 };
        if (data.value !== undefined)
            dict["CheckCTL"] = data.value;
        var map = readMap(dict, "deviceName");
        compare(map["driverVersion"] !== undefined, data.read);
        compare(map["gpuCurrentFrequency"] !== undefined, data.read);
        compare(Telemetry.read(null, "deviceName").length, 0);
    }

    function test_ranges_data() {
        return [
            { tag: "clock 0", key: "GpuCurrentFrequency", value: 0, ok: false },
            { tag: "clock 1", key: "GpuCurrentFrequency", value: 1, ok: true },
            { tag: "clock 19999", key: "GpuCurrentFrequency", value: 19999, ok: true },
            { tag: "clock 20000", key: "GpuCurrentFrequency", value: 20000, ok: false },
            { tag: "clock text", key: "GpuCurrentFrequency", value: "fast", ok: false },
            { tag: "gpu temp -5", key: "GpuCurrentTemperature", value: -5, ok: false },
            { tag: "gpu temp 0", key: "GpuCurrentTemperature", value: 0, ok: true },
            { tag: "gpu temp 200", key: "GpuCurrentTemperature", value: 200, ok: true },
            { tag: "gpu temp 201", key: "GpuCurrentTemperature", value: 201, ok: false },
            { tag: "vram temp -5", key: "VRAM_Temperature", value: -5, ok: false },
            { tag: "vram temp 201", key: "VRAM_Temperature", value: 201, ok: false },
            { tag: "power 228", key: "PsysPower", value: 228, ok: true },
            { tag: "power 229", key: "PsysPower", value: 229, ok: false },
            { tag: "vram clock 0", key: "VRAM_Frequency", value: 0, ok: true },
            { tag: "vram clock 20000", key: "VRAM_Frequency", value: 20000, ok: false },
            { tag: "overvoltage 199", key: "GPUOvervoltagePercentage", value: 199, ok: true },
            { tag: "overvoltage 200", key: "GPUOvervoltagePercentage", value: 200, ok: false },
            { tag: "power % 100", key: "GPU_PowerPercentage", value: 100, ok: true },
            { tag: "power % 101", key: "GPU_PowerPercentage", value: 101, ok: false },
            { tag: "temp % -1", key: "GPU_TemperaturePercentage", value: -1, ok: false },
            { tag: "fan 0", key: "FanSpeed", value: 0, ok: true },
            { tag: "fan 20000", key: "FanSpeed", value: 20000, ok: false },
            { tag: "util 100", key: "GPU_Utilization", value: 100, ok: true },
            { tag: "util 101", key: "GPU_Utilization", value: 101, ok: false },
            { tag: "leading number", key: "FanSpeed", value: "1200rpm", ok: true },
            { tag: "no leading number", key: "FanSpeed", value: "rpm1200", ok: false }
        ];
    }

    function test_ranges(data) {
        compare(Telemetry.inRange(data.key, Telemetry.readInt(data.value)), data.ok);
        var dict = { "CheckCTL": 1 };
        dict[data.key] = data.value;
        compare(Telemetry.read(dict, "deviceName").length > 0, data.ok,
                "an untrusted value must leave the page as it was");
    }

    function test_shownForms() {
        var map = readMap({ "CheckCTL": 1, "GpuCurrentFrequency": "2850.5", "GpuCurrentTemperature": 45.172000000004,
                            "GPU_Utilization": 37.9, "FanSpeed": 1234.7, "PsysPower": 95.2,
                            "ResizableBar": "0" }, "deviceName");
        compare(map["gpuCurrentFrequency"], "2850", "a reading is shown as its whole number");
        compare(map["gpuCurrentTemperature"], "45");
        compare(map["gPU_Utilization"], "37", "utilisation is shown as its whole number");
        compare(map["fanSpeed"], 1234);
        compare(map["board_Power"], 95);
        compare(map["resizableBar"], "Unable");
    }

    function test_warnings_data() {
        return [
            { tag: "gpu 89", key: "GpuCurrentTemperature", flag: "gpuTempWarning", value: 89, warn: false },
            { tag: "gpu 90", key: "GpuCurrentTemperature", flag: "gpuTempWarning", value: 90, warn: true },
            { tag: "gpu 90.4 text", key: "GpuCurrentTemperature", flag: "gpuTempWarning", value: "90.4", warn: true },
            { tag: "vram 99", key: "VRAM_Temperature", flag: "vramTempWarning", value: 99, warn: false },
            { tag: "vram 99.9", key: "VRAM_Temperature", flag: "vramTempWarning", value: 99.9, warn: false },
            { tag: "vram 100", key: "VRAM_Temperature", flag: "vramTempWarning", value: 100, warn: true }
        ];
    }

    function test_warnings(data) {
        var dict = { "CheckCTL": 1 };
        dict[data.key] = data.value;
        compare(readMap(dict, "deviceName")[data.flag], data.warn);
    }

    function test_rejectedTemperatureKeepsWarning() {
        var map = readMap({ "CheckCTL": 1, "GpuCurrentTemperature": 201 }, "deviceName");
        compare(map["gpuTempWarning"], undefined, "a rejected value says nothing about the warning");
        compare(map["gpuCurrentTemperature"], undefined);
    }

    function test_resizableBar_data() {
        return [
            { tag: "0", value: "0", text: "Unable" },
            { tag: "int 0", value: 0, text: "Unable" },
            { tag: "1", value: "1", text: "Enabled" },
            { tag: "other", value: "maybe", text: "Enabled" }
        ];
    }

    function test_resizableBar(data) {
        compare(Telemetry.resizableBarText(data.value), data.text);
    }

    function test_nameKeyAndAbsentKeys() {
        var dict = { "CheckCTL": 1, "AdapterName": "Intel(R) Arc(TM) B580 Graphics", "deviceName": "TARVELL B580" };
        compare(readMap(dict, "AdapterName")["adapterName"], "Intel(R) Arc(TM) B580 Graphics");
        compare(readMap(dict, "deviceName")["adapterName"], "TARVELL B580");
        var map = readMap({ "CheckCTL": 1 }, "deviceName");
        compare(Object.keys(map).length, 0, "absent keys change nothing");
    }


    // ---- fan -----------------------------------------------------------------------------


    function test_clickKeys() {
        compare(Fan.clickKeys(0), { "fanControlBtn": 0 });
        compare(Fan.clickKeys(3), { "fanControlBtn": 3, "fanSpeed": 75, "controlMode": 0 });
    }

    function test_applyRequest() {
        compare(Fan.applyRequest(0), { "function": 7, "fanControlBtn": 0, "controlMode": 1 });
        compare(Fan.applyRequest(1), { "function": 3, "fanControlBtn": 1, "controlMode": 0, "fanSpeed": 30 });
        compare(Fan.applyRequest(4), { "function": 3, "fanControlBtn": 4, "controlMode": 0, "fanSpeed": 100 });
        compare(Fan.applyRequest(9)["function"], 7, "an unknown preset gives the fan back to the GPU");
    }

    function test_restoredPreset_data() {
        return [
            { tag: "GPU", data: { "FanControlMode": "GPU", "fanControlBtn": 3 }, preset: 0 },
            { tag: "MCU 4", data: { "FanControlMode": "MCU", "fanControlBtn": 4 }, preset: 4 },
            { tag: "MCU text 2", data: { "FanControlMode": "MCU", "fanControlBtn": "2" }, preset: 2 },
            { tag: "MCU 0", data: { "FanControlMode": "MCU", "fanControlBtn": 0 }, preset: 0 },
            { tag: "MCU 7", data: { "FanControlMode": "MCU", "fanControlBtn": 7 }, preset: 0 },
            { tag: "other mode", data: { "FanControlMode": "gpu", "fanControlBtn": 2 }, preset: -1 },
            { tag: "no mode", data: { "fanControlBtn": 2 }, preset: -1 }
        ];
    }

    function test_restoredPreset(data) {
        compare(Fan.restoredPreset(data.data), data.preset);
    }

    function test_replyLine() {
        compare(Fan.replyLine({ "function": 3, "resultCheck": 0 }), "I2C_Fan_Control success !");
        compare(Fan.replyLine({ "function": 3, "resultCheck": 1 }), "I2C_Fan_Control fail !");
        compare(Fan.replyLine({ "function": 3 }), "I2C_Fan_Control fail !");
    }

    // ---- setting ---------------------------------------------------------------------------

    function test_updateOffer_data() {
        return [
            { tag: "offered", dict: { "updateApp": 1 }, clicked: false, offer: true },
            { tag: "text 1", dict: { "updateApp": "1" }, clicked: false, offer: true },
            { tag: "already started", dict: { "updateApp": 1 }, clicked: true, offer: false },
            { tag: "none", dict: { "updateApp": 0 }, clicked: false, offer: false },
            { tag: "missing", dict: {}, clicked: false, offer: false },
            { tag: "no dict", dict: null, clicked: false, offer: false }
        ];
    }

    function test_updateOffer(data) {
        compare(Setting.offersUpdate(data.dict, data.clicked), data.offer);
    }

    function test_nextTheme() {
        compare(Setting.nextTheme(0), 1);
        compare(Setting.nextTheme(1), 0);
        compare(Setting.nextTheme(2), 1, "an unknown stored theme is drawn dark, so it flips to light");
    }
}
