.pragma library
// Numbers of the dictionary protocol between the scene and the worker, and the
// one way the scene reads an integer out of a reply.

var Request = {
    Idle: -1,
    ArgbControl: 1,
    FanDuty: 3,
    FanToGpu: 7,
    SyncMotherboard: 8,
    LeaveMotherboardSync: 9,
    Refresh: 10,
    StoreTheme: 11,
    Update: 12,
    ArgbSwitch: 13,
    ReinstallDriver: 16,
    FanCurve: 17,
    Monitor: 100,
    WatchMarker: 101
};

var Reply = {
    DriverOpenFailed: -2,
    StartUp: 0,
    ArgbControl: 1,
    FanDuty: 3,
    SyncMotherboard: 8,
    Refresh: 10,
    Update: 12,
    ReinstallDriver: 16,
    FanCurve: 17,
    Monitor: 100,
    ShowWindow: 101
};

// Reply values cross the thread boundary as variants: ints, doubles or texts.
// A leading integer counts; anything else is NaN, which fails every comparison.
function toInt(value) {
    if (value === undefined || value === null)
        return NaN;
    return parseInt(String(value), 10);
}

// True only for a value that reads as exactly `expected`.
function isInt(value, expected) {
    return toInt(value) === expected;
}

function replyCode(data) {
    if (!data)
        return NaN;
    return toInt(data["function"]);
}
