.pragma library
.import "../logic/Codes.js" as Codes
// The Setting page: the theme switch, the version line and the update offer.

var OpenRgbHint = "Lets OpenRGB on this computer control the card's lighting";
var DimmedOpacity = 0.2;

function shown(mode) {
    return Number(mode) === 1 ? 1 : 0;
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
