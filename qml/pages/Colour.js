.pragma library
// The colour picker's arithmetic: the square (saturation across, brightness
// down), the hue bar, the pure hue shown in the square, and positioning the
// picker from six typed hexadecimal digits.

var SquareSize = 130;
var CursorSize = 14;
var CursorTravel = SquareSize - CursorSize;   // 116
var CursorMin = 2;                            // the cursor never touches the square's edge
var CursorStart = 50;

var BarLength = 116;
var BarThickness = 12;
var KnobSize = 14;
var KnobTravel = BarLength - KnobSize;        // 102

// One arrow key moves the knob or the cursor this many pixels: about thirty
// steps from one end to the other.
var KeyStep = 4;

var KnobPressedScale = 0.6;
var KnobRestScale = 0.9;
var CursorPressedScale = 0.7;
var CursorRestScale = 1.0;

// Pointer coordinate in the square -> cursor corner, 2..116.
function cursorPosition(p) {
    return Math.max(CursorMin, Math.min(SquareSize, p + CursorSize / 2) - CursorSize);
}

// Pointer coordinate along the bar -> knob corner, 0..102.
function knobPosition(p) {
    return Math.max(0, Math.min(BarLength, p + KnobSize / 2) - KnobSize);
}

// The knob and the cursor one key step further, never past their ends.
function knobStepped(knob, steps) {
    return Math.max(0, Math.min(KnobTravel, knob + steps * KeyStep));
}

function cursorStepped(p, steps) {
    return Math.max(CursorMin, Math.min(CursorTravel, p + steps * KeyStep));
}

function hueAt(knob) {
    return knob / KnobTravel;
}

function saturationAt(cursorX) {
    return cursorX / CursorTravel;
}

function brightnessAt(cursorY) {
    return 1 - cursorY / CursorTravel;
}

function clamp01(x) {
    return Math.max(0, Math.min(1, x));
}

// The pure colour drawn at the square's right edge for a hue, as components
// 0..1. The bands are the picker's own; they run from v = 1 - hue.
function squareHue(hue) {
    var v = clamp01(1 - hue);
    if (v < 0.16)
        return { r: 1, g: 0, b: v / 0.16 };
    if (v < 0.33)
        return { r: 1 - (v - 0.16) / 0.17, g: 0, b: 1 };
    if (v < 0.5)
        return { r: 0, g: (v - 0.33) / 0.17, b: 1 };
    if (v < 0.76)
        return { r: 0, g: 1, b: 1 - (v - 0.5) / 0.26 };
    if (v < 0.85)
        return { r: (v - 0.76) / 0.09, g: 1, b: 0 };
    return { r: 1, g: 1 - (v - 0.85) / 0.15, b: 0 };
}

// HSV (each 0..1, hue 1 = a full turn) to whole components 0..255.
function hsvToRgb(h, s, v) {
    h = clamp01(h);
    s = clamp01(s);
    v = clamp01(v);
    var sector = (h * 6) % 6;
    var i = Math.floor(sector);
    var f = sector - i;
    var p = v * (1 - s);
    var q = v * (1 - s * f);
    var t = v * (1 - s * (1 - f));
    var rgb;
    switch (i) {
    case 0: rgb = [v, t, p]; break;
    case 1: rgb = [q, v, p]; break;
    case 2: rgb = [p, v, t]; break;
    case 3: rgb = [p, q, v]; break;
    case 4: rgb = [t, p, v]; break;
    default: rgb = [v, p, q]; break;
    }
    return { r: Math.round(rgb[0] * 255), g: Math.round(rgb[1] * 255), b: Math.round(rgb[2] * 255) };
}

function hexByte(n) {
    var text = Math.max(0, Math.min(255, Math.round(n))).toString(16);
    return text.length < 2 ? "0" + text : text;
}

// "#" and six lower-case digits.
function colourText(rgb) {
    return "#" + hexByte(rgb.r) + hexByte(rgb.g) + hexByte(rgb.b);
}

// The colour the picker stands on.
function pickerColour(knob, cursorX, cursorY) {
    return hsvToRgb(hueAt(knob), saturationAt(cursorX), brightnessAt(cursorY));
}

function isSixHex(text) {
    return /^[0-9A-Fa-f]{6}$/.test(String(text));
}

// The six digits of a stored colour, or "" when the stored parts do not make
// exactly "#" and six hexadecimal digits.
function storedDigits(rHex, gHex, bHex) {
    var text = "#" + String(rHex) + String(gHex) + String(bHex);
    return /^#[0-9A-Fa-f]{6}$/.test(text) ? text.substr(1) : "";
}

// Where the picker goes for six hexadecimal digits: knob along the bar and the
// cursor in the square. null for anything but six hexadecimal digits.
function positionFor(digits) {
    if (!isSixHex(digits))
        return null;
    var red = parseInt(digits.substr(0, 2), 16) / 255;
    var green = parseInt(digits.substr(2, 2), 16) / 255;
    var blue = parseInt(digits.substr(4, 2), 16) / 255;
    var max = Math.max(red, green, blue);
    var min = Math.min(red, green, blue);
    var delta = max - min;
    var hue;
    if (delta === 0)
        hue = 0;
    else if (max === red)
        hue = ((green - blue) / delta) % 6;
    else if (max === green)
        hue = (blue - red) / delta + 2;
    else
        hue = (red - green) / delta + 4;
    var degrees = Math.round(hue * 60);
    if (degrees < 0)
        degrees += 360;
    var saturation = max === 0 ? 0 : delta / max;
    return {
        degrees: degrees,
        knob: degrees / 360 * KnobTravel,
        cursorX: saturation * CursorTravel,
        cursorY: (1 - max) * CursorTravel
    };
}
