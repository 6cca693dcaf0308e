.pragma library
// The fan presets of the Monitor page and the requests "Apply" sends.

var DefaultPreset = 0;      // the GPU drives its own fan
var FanDutyRequest = 3;
var FanToGpuRequest = 7;

var Presets = [
    { label: "Default",    width: 75, duty: 0 },
    { label: "Silent",     width: 75, duty: 30 },
    { label: "Medium",     width: 80, duty: 50 },
    { label: "Turbo",      width: 75, duty: 75 },
    { label: "Full Speed", width: 85, duty: 100 }
];

function isPreset(index) {
    return index >= 0 && index < Presets.length;
}

function duty(index) {
    return isPreset(index) ? Presets[index].duty : 0;
}

// Keys a preset click leaves in the outgoing dictionary (nothing is sent yet).
function clickKeys(index) {
    var keys = { "fanControlBtn": index };
    if (index !== DefaultPreset) {
        keys["fanSpeed"] = duty(index);
        keys["controlMode"] = 0;
    }
    return keys;
}

// The request of "Apply" for the selected preset. Mode and duty go again with
// it: another request may have changed "controlMode" since the preset click.
function applyRequest(index) {
    if (index === DefaultPreset || !isPreset(index))
        return { "function": FanToGpuRequest, "fanControlBtn": DefaultPreset, "controlMode": 1 };
    return { "function": FanDutyRequest, "fanControlBtn": index, "controlMode": 0,
             "fanSpeed": duty(index) };
}

// The preset a stored fan choice selects, or -1 when it selects none.
function restoredPreset(userControlData) {
    if (!userControlData)
        return -1;
    var mode = userControlData["FanControlMode"];
    if (mode === "GPU")
        return DefaultPreset;
    if (mode === "MCU") {
        var n = parseInt(String(userControlData["fanControlBtn"]), 10);
        return n >= 1 && n < Presets.length ? n : DefaultPreset;
    }
    return -1;
}

// Only a result of 0 means the card took the duty.
function succeeded(data) {
    return data ? parseInt(String(data["resultCheck"]), 10) === 0 : false;
}

function replyLine(data) {
    return succeeded(data) ? "I2C_Fan_Control success !" : "I2C_Fan_Control fail !";
}

// Colours of "Apply" that the theme table does not hold, [dark, light].
var ApplyColours = ["#152D5E", "#E8EFFF"];
var ApplyLabelColours = ["#E2E2E2", "#585858"];
// The dimmed label still reads at 3:1 on the light theme's button colours.
var ApplyLabelDimmedColours = ["#7E7E91", "#747484"];
var DescriptionColour = "#7E7E91";

function themed(pair, mode) {
    return pair[Number(mode) === 1 ? 1 : 0];
}
