.pragma library
.import "Codes.js" as Codes
// The page switch: which label sits where and what opening a page asks of the
// worker.

var Monitor = "Monitor";
var Argb = "ARGB";
var Setting = "Setting";
var Labels = [Monitor, Argb, Setting];

var FirstPage = Argb;

// Marker centre lines of the three labels inside the switch.
var MarkerY = { "Monitor": 20, "ARGB": 110, "Setting": 200 };
var MarkerSlideMs = 200;

var CurrentOpacity = 1.0;
var OtherOpacity = 0.5;

// The Monitor page keeps the worker refreshing telemetry; the others let it idle.
var RequestOnOpen = { "Monitor": Codes.Request.Monitor, "ARGB": Codes.Request.Idle,
                      "Setting": Codes.Request.Idle };

function isLabel(name) {
    return Labels.indexOf(name) >= 0;
}

function markerY(name) {
    return isLabel(name) ? MarkerY[name] : MarkerY[FirstPage];
}

function labelOpacity(label, current) {
    return label === current ? CurrentOpacity : OtherOpacity;
}
