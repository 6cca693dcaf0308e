.pragma library
.import "../logic/Codes.js" as Codes
// The Setting page: the theme switch, the version line and the update offer.

var OpenRgbHint = "Lets OpenRGB on this computer control the card's lighting";
var DimmedOpacity = 0.2;

// Knob colours of the theme switch, [left, right] for dark and light.
var KnobColours = [["#142A59", "#313131"], ["#B9C2D2", "#6B90D7"]];
var HeadingColours = ["#FFFFFF", "#585858"];
var SwitchBorder = "#65657E";

function shown(mode) {
    return Number(mode) === 1 ? 1 : 0;
}

function knobColours(mode) {
    var pair = KnobColours[shown(mode)];
    return { left: pair[0], right: pair[1] };
}

function headingColour(mode) {
    return HeadingColours[shown(mode)];
}

function nextTheme(mode) {
    return shown(mode) === 1 ? 0 : 1;
}

function themeRequest(mode) {
    return { "function": Codes.Request.StoreTheme, "displayMode": mode };
}

function updateRequest() {
    return { "function": Codes.Request.Update, "controlMode": 1 };
}

function versionLine(version) {
    return "TARVELL VORN " + version + " Version";
}

// An offer stands when the telemetry says so and the user has not started an
// update yet; a started update is never offered again.
function offersUpdate(dict, hasClickUpdate) {
    if (hasClickUpdate || !dict)
        return false;
    return parseInt(String(dict["updateApp"]), 10) === 1;
}

// Off unless the settings say true.
function openRgbChosen(settings) {
    return !!settings && settings["openRgbServer"] === true;
}

function openRgbRequest(on) {
    return { "function": Codes.Request.OpenRgbServer, "openRgbServer": on === true };
}

// The start-with-the-desktop switch's knob: the accent when on, grey when off,
// visible on the track of either theme.
function autoStartKnobColour(on) {
    return on ? "#6B90D7" : "#747474";
}
