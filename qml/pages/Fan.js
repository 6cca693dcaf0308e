.pragma library
.import "../logic/Codes.js" as Codes
.import Tarvell.Protocol 1.0 as Protocol
// The fan presets of the Monitor page and the requests "Apply" sends, and the
// rules of the user's fan curve.

var DefaultPreset = Protocol.FanPreset.Default;  // the GPU drives its own fan
var CustomPreset = Protocol.FanPreset.Custom;    // the user's curve

// In the order of the worker's presets; the duties are the worker's too.
var Presets = [
    { label: "Default",    width: 75 },
    { label: "Silent",     width: 75 },
    { label: "Medium",     width: 80 },
    { label: "Turbo",      width: 75 },
    { label: "Full Speed", width: 85 },
    // Wide enough for the running duty beside its name.
    { label: "Custom",     width: 115 }
].map(function (preset, index) {
    preset.duty = Protocol.Tables.presetDuties[index];
    return preset;
});

function isPreset(index) {
    return index >= 0 && index < Presets.length;
}

function duty(index) {
    return isPreset(index) ? Presets[index].duty : 0;
}

function hasFixedDuty(index) {
    return index !== DefaultPreset && index !== CustomPreset && isPreset(index);
}

// Keys a preset click leaves in the outgoing dictionary (nothing is sent yet).
function clickKeys(index) {
    var keys = { "fanControlBtn": index };
    if (hasFixedDuty(index)) {
        keys["fanSpeed"] = duty(index);
        keys["controlMode"] = 0;
    }
    return keys;
}

// The request of "Apply" for the selected preset. Mode and duty go again with
// it: another request may have changed "controlMode" since the preset click.
function applyRequest(index, curve) {
    if (index === CustomPreset)
        return { "function": Codes.Request.FanCurve, "fanControlBtn": CustomPreset,
                 "fanCurve": copyCurve(curve) };
    if (index === DefaultPreset || !isPreset(index))
        return { "function": Codes.Request.FanToGpu, "fanControlBtn": DefaultPreset, "controlMode": 1 };
    return { "function": Codes.Request.FanDuty, "fanControlBtn": index, "controlMode": 0,
             "fanSpeed": duty(index) };
}

// The preset a stored fan choice selects, or -1 when it selects none.
function restoredPreset(userControlData) {
    if (!userControlData)
        return -1;
    var mode = userControlData["FanControlMode"];
    if (mode === "GPU")
        return DefaultPreset;
    if (mode === "CURVE")
        return CustomPreset;
    if (mode === "MCU") {
        var n = parseInt(String(userControlData["fanControlBtn"]), 10);
        return n > DefaultPreset && n < CustomPreset ? n : DefaultPreset;
    }
    return -1;
}

// ---- the curve --------------------------------------------------------------------

// The worker's rules (mcu/fan_curve.h), so the editor allows what it runs.
var MinTemp = Protocol.Tables.curveMinTemp;
var MaxTemp = Protocol.Tables.curveMaxTemp;
var MinGap = Protocol.Tables.curveMinGap;
var MinDuty = Protocol.Tables.curveMinDuty;
var MaxDuty = Protocol.Tables.curveMaxDuty;
var MinPoints = Protocol.Tables.curveMinPoints;
var MaxPoints = Protocol.Tables.curveMaxPoints;
var QuietDuty = Protocol.Tables.quietDuty;     // below it only at or below QuietUpTo degC
var QuietUpTo = Protocol.Tables.quietUpTo;

var DefaultCurve = Protocol.Tables.defaultCurve;

function copyCurve(points) {
    return (points || []).map(function (p) { return [Number(p[0]), Number(p[1])]; });
}

function isWhole(n) {
    return typeof n === "number" && isFinite(n) && Math.floor(n) === n;
}

// The same rules the worker checks before it runs a curve.
function isValidCurve(points) {
    if (!Array.isArray(points) || points.length < MinPoints || points.length > MaxPoints)
        return false;
    for (var i = 0; i < points.length; ++i) {
        var p = points[i];
        if (!Array.isArray(p) || p.length !== 2 || !isWhole(p[0]) || !isWhole(p[1]))
            return false;
        if (p[0] < MinTemp || p[0] > MaxTemp || p[1] < MinDuty || p[1] > MaxDuty)
            return false;
        if (p[1] < QuietDuty && p[0] > QuietUpTo)
            return false;
        if (i > 0 && (p[0] - points[i - 1][0] < MinGap || p[1] < points[i - 1][1]))
            return false;
    }
    return true;
}

// The stored curve, or the default one when there is none that may run.
function curveOf(userControlData) {
    var stored = userControlData ? userControlData["fanCurve"] : undefined;
    var points = Array.isArray(stored) ? copyCurve(stored) : [];
    return isValidCurve(points) ? points : copyCurve(DefaultCurve);
}

function clamp(v, low, high) {
    return Math.max(low, Math.min(high, v));
}

// Where point i may go when asked for (t, d): strictly between its
// neighbours' temperatures by at least 1 degC, its duty between theirs, and
// not quiet above QuietUpTo. Whole numbers only.
function constrain(points, i, t, d) {
    var lowT = i > 0 ? points[i - 1][0] + MinGap : MinTemp;
    var highT = i < points.length - 1 ? points[i + 1][0] - MinGap : MaxTemp;
    var temp = clamp(Math.round(t), lowT, highT);
    var lowD = i > 0 ? points[i - 1][1] : MinDuty;
    var highD = i < points.length - 1 ? points[i + 1][1] : MaxDuty;
    if (temp > QuietUpTo)
        lowD = Math.max(lowD, QuietDuty);
    return [temp, clamp(Math.round(d), lowD, Math.max(lowD, highD))];
}

// A new point in the middle of the widest gap between two points, or after
// the last; -1 when the curve is full or no gap is wide enough.
function addPoint(points) {
    if (points.length >= MaxPoints)
        return -1;
    var best = -1, widest = 1;
    for (var i = 1; i < points.length; ++i) {
        var gap = points[i][0] - points[i - 1][0];
        if (gap > widest) {
            widest = gap;
            best = i;
        }
    }
    var last = points[points.length - 1];
    if (MaxTemp - last[0] > widest) {
        var after = last[0] + Math.round((MaxTemp - last[0]) / 2);
        points.push([after, Math.max(last[1], after > QuietUpTo ? QuietDuty : MinDuty)]);
        return points.length - 1;
    }
    if (best < 0)
        return -1;
    var a = points[best - 1], b = points[best];
    var t = Math.round((a[0] + b[0]) / 2);
    points.splice(best, 0, [t, Math.round((a[1] + b[1]) / 2)]);
    points[best] = constrain(points, best, t, points[best][1]);
    return best;
}

function removePoint(points, i) {
    if (points.length <= MinPoints || i < 0 || i >= points.length)
        return false;
    points.splice(i, 1);
    return true;
}

// The duty the curve runs at, from the telemetry; -1 while no curve drives the fan.
function curveDutyOf(monitorInfoDict) {
    var n = monitorInfoDict ? Codes.toInt(monitorInfoDict["fanCurveDuty"]) : NaN;
    return isNaN(n) || n < MinDuty || n > MaxDuty ? -1 : n;
}

// The hotter of GPU and VRAM as the curve sees it; -1 when neither is known.
function hottestOf(monitorInfoDict) {
    var hottest = -1;
    ["GpuCurrentTemperature", "VRAM_Temperature"].forEach(function (key) {
        var v = monitorInfoDict ? monitorInfoDict[key] : undefined;
        var n = v === null || v === undefined || v === "" ? NaN : Number(v);
        if (isFinite(n) && n > 0 && n < 200)
            hottest = Math.max(hottest, n);
    });
    return hottest;
}

function presetLabel(index, runningDuty) {
    if (index === CustomPreset && runningDuty >= 0)
        return "Custom \u00B7 " + runningDuty + " %";
    return Presets[index].label;
}

// Only a result of 0 means the card took the duty.
function succeeded(data) {
    return data ? parseInt(String(data["resultCheck"]), 10) === 0 : false;
}

function replyLine(data) {
    return succeeded(data) ? "I2C_Fan_Control success !" : "I2C_Fan_Control fail !";
}
