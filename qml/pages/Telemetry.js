.pragma library
// Reading the worker's telemetry dictionary for the Monitor page: which keys
// are trusted, in which range, and what each becomes on the page.

var GpuTempWarning = 90;
var VramTempWarning = 100;
// Shown for a reading the card does not report (the worker sends null).
var NotAvailable = "--";

// A leading whole number counts; anything else is NaN and fails every test.
function readInt(value) {
    if (value === undefined || value === null)
        return NaN;
    return parseInt(String(value), 10);
}

function present(value) {
    return value !== undefined && value !== null;
}

// The page's number fields (ints) that say "--" through a flag beside them.
var KnownFlags = { "fanSpeed": "fanSpeedKnown", "board_Power": "boardPowerKnown" };

// Range tests of the numeric keys. lo/hi are inclusive unless marked open.
var Ranges = {
    "PsysPower":                 { lo: 0, hi: 228 },
    "GpuCurrentFrequency":       { lo: 0, hi: 20000, loOpen: true, hiOpen: true },
    "GpuCurrentTemperature":     { lo: 0, hi: 200 },
    "VRAM_Frequency":            { lo: 0, hi: 20000, hiOpen: true },
    "VRAM_Temperature":          { lo: 0, hi: 200 },
    "GPUOvervoltagePercentage":  { lo: 0, hi: 200, hiOpen: true },
    "GPU_PowerPercentage":       { lo: 0, hi: 100 },
    "GPU_TemperaturePercentage": { lo: 0, hi: 100 },
    "FanSpeed":                  { lo: 0, hi: 20000, hiOpen: true },
    "GPU_Utilization":           { lo: 0, hi: 100 }
};

function inRange(key, n) {
    var r = Ranges[key];
    if (r === undefined || isNaN(n))
        return false;
    var aboveLo = r.loOpen ? n > r.lo : n >= r.lo;
    var belowHi = r.hiOpen ? n < r.hi : n <= r.hi;
    return aboveLo && belowHi;
}

function checkCtlOk(dict) {
    return dict !== undefined && dict !== null && readInt(dict["CheckCTL"]) === 1;
}

function resizableBarText(value) {
    return readInt(value) === 0 ? "Unable" : "Enabled";
}

// The page's fields to change for one dictionary, in the order they are read.
// A key that is absent or fails its test is left out, so the page keeps what
// it showed; a key that is null is a reading the card does not report and
// shows NotAvailable. Returns [] unless "CheckCTL" is 1. nameKey is "AdapterName" for
// the start-up reply and "deviceName" for the monitoring replies.
function read(dict, nameKey) {
    var out = [];
    if (!checkCtlOk(dict))
        return out;

    function text(key, field) {
        if (present(dict[key]))
            out.push({ field: field, value: String(dict[key]) });
    }
    // value: "int" keeps the parsed number, "intText" shows it as text.
    function number(key, field, kind) {
        var flag = KnownFlags[field];
        if (dict[key] === null) {
            if (kind === "intText")
                out.push({ field: field, value: NotAvailable });
            else if (flag !== undefined)
                out.push({ field: flag, value: false });
            return NaN;
        }
        if (!present(dict[key]))
            return null;
        var n = readInt(dict[key]);
        if (!inRange(key, n))
            return null;
        var value = kind === "intText" ? String(n) : n;
        out.push({ field: field, value: value });
        if (flag !== undefined)
            out.push({ field: flag, value: true });
        return n;
    }

    text("DriverVersion", "driverVersion");
    text(nameKey, "adapterName");
    text("VendorID", "vendorID");
    text("DeviceID", "deviceID");
    text("SubSysID", "subSysID");
    text("SubSysVendorID", "subSysVendorID");
    text("RevID", "revID");
    text("PCIE", "pcieInfo");
    if (present(dict["ResizableBar"]))
        out.push({ field: "resizableBar", value: resizableBarText(dict["ResizableBar"]) });
    number("PsysPower", "board_Power", "int");
    // The readings arrive as doubles; their full text ("61.172000000004") would
    // run into the next tile, so the whole number that passed the test is shown.
    number("GpuCurrentFrequency", "gpuCurrentFrequency", "intText");
    var gpuTemp = number("GpuCurrentTemperature", "gpuCurrentTemperature", "intText");
    if (gpuTemp !== null)
        out.push({ field: "gpuTempWarning", value: !isNaN(gpuTemp) && gpuTemp >= GpuTempWarning });
    number("VRAM_Frequency", "vRAM_Frequency", "int");
    var vramTemp = number("VRAM_Temperature", "vRAM_Temperature", "intText");
    if (vramTemp !== null)
        out.push({ field: "vramTempWarning", value: !isNaN(vramTemp) && vramTemp >= VramTempWarning });
    number("GPUOvervoltagePercentage", "gPUOvervoltagePercentage", "int");
    number("GPU_PowerPercentage", "gPU_PowerPercentage", "int");
    number("GPU_TemperaturePercentage", "gPU_TemperaturePercentage", "int");
    number("FanSpeed", "fanSpeed", "int");
    number("GPU_Utilization", "gPU_Utilization", "intText");
    text("CPU_Name", "cPU_Name");
    text("TotalSysRAM", "totalSysRAM");
    text("MotherboardModel", "motherboardModel");
    text("AvailableSysRAM", "availableSysRAM");
    text("MotherboardManufacturer", "motherboardManufacturer");
    return out;
}
