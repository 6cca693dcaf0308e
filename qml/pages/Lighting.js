.pragma library
.import "../logic/Codes.js" as Codes
.import Tarvell.Protocol 1.0 as Protocol
// The lighting vocabulary of the ARGB page: which effects exist, which of them
// paint with the chosen colour, how slider positions become speed bytes, and the
// requests the page hands to the worker.

var DefaultEffect = Protocol.Tables.defaultEffect;  // also what "Default Mode" selects
var StaticEffect = Protocol.Effect.Static;
var NoEffect = -1;  // the scene's own mark for no effect chosen; no card code

var MinSpeed = Protocol.Tables.slowestSpeed;
var MaxSpeed = Protocol.Tables.fastestSpeed;
var DefaultSpeed = Protocol.Tables.defaultSpeed;

var OffColour = "00";

// Three rows of buttons, left to right. Names and whether an effect paints
// with the chosen colour are the worker's, by the effect's code.
var Effects = [
    { row: 0, code: Protocol.Effect.ColorCycling,   icon: "qrc:/icon/effect/Color Cycle.svg" },
    { row: 0, code: Protocol.Effect.Static,         icon: "qrc:/icon/effect/Static.svg" },
    { row: 0, code: Protocol.Effect.Rainbow,        icon: "qrc:/icon/effect/Rainbow.svg" },
    { row: 0, code: Protocol.Effect.Wave,           icon: "qrc:/icon/effect/Wave.svg" },
    { row: 0, code: Protocol.Effect.GlowingYoyo,    icon: "qrc:/icon/effect/Yoyo.svg" },
    { row: 1, code: Protocol.Effect.StarryNight,    icon: "qrc:/icon/effect/Starry night.svg" },
    { row: 1, code: Protocol.Effect.Comet,          icon: "qrc:/icon/effect/Comet.svg" },
    { row: 1, code: Protocol.Effect.Breath,         icon: "qrc:/icon/effect/Breath.svg" },
    { row: 1, code: Protocol.Effect.Flash,          icon: "qrc:/icon/effect/Flash.svg" },
    { row: 1, code: Protocol.Effect.Strobing,       icon: "qrc:/icon/effect/Strobbing.svg" },
    { row: 2, code: Protocol.Effect.FlashRainbow,   icon: "qrc:/icon/effect/Flash Rainbow.svg" },
    { row: 2, code: Protocol.Effect.BreathRainbow,  icon: "qrc:/icon/effect/Breath Rainbow.svg" },
    { row: 2, code: Protocol.Effect.CometRainbow,   icon: "qrc:/icon/effect/Comet Rainbow.svg" }
].map(function (effect) {
    var look = Protocol.Tables.effectLooks[effect.code];
    effect.label = look.name;
    effect.usesColour = look.usesColour;
    return effect;
});

var RowCount = 3;

// Button grid inside the effects panel.
var GridLeft = 40;
var GridTop = 60;
var ButtonWidth = 106;
var ButtonHeight = 94;
var ButtonGap = 8;
var RowPitch = 100;

var SpeedBytes = Protocol.Tables.speedBytes;

function effectsInRow(row) {
    var list = [];
    for (var i = 0; i < Effects.length; ++i)
        if (Effects[i].row === row)
            list.push(Effects[i]);
    return list;
}

function effectByCode(code) {
    for (var i = 0; i < Effects.length; ++i)
        if (Effects[i].code === code)
            return Effects[i];
    return null;
}

// Only a known effect that ignores the colour veils the colour panel; an
// unknown code selects nothing and veils nothing.
function veilsColours(code) {
    var effect = effectByCode(code);
    return effect !== null && !effect.usesColour;
}

// Column of the effect at `index` of the table within its own row.
function columnOf(index) {
    var column = 0;
    for (var i = 0; i < index; ++i)
        if (Effects[i].row === Effects[index].row)
            ++column;
    return column;
}

// The effect an arrow key moves to from `index`: along its row, or to the
// nearest column of the row above or below; the edges hold.
function neighbour(index, dx, dy) {
    var row = Effects[index].row + dy;
    var column = columnOf(index) + dx;
    var best = index;
    for (var i = 0; i < Effects.length; ++i)
        if (Effects[i].row === row && columnOf(i) <= Math.max(column, 0))
            best = i;
    return best;
}

function buttonPosition(row, column) {
    return { x: GridLeft + column * (ButtonWidth + ButtonGap), y: GridTop + row * RowPitch };
}

function speedByte(position) {
    var byte = SpeedBytes[position];
    return byte === undefined ? SpeedBytes[DefaultSpeed] : byte;
}

// A stored slider position as the page can use it: whole, within 1..5, and the
// current one when the stored value is not a number at all.
function restoredSpeed(value, current) {
    var n = parseInt(String(value), 10);
    if (isNaN(n))
        return current;
    return Math.max(MinSpeed, Math.min(MaxSpeed, n));
}

// "#rrggbb" into the three two-digit components the worker takes.
function colourComponents(colourText) {
    var text = String(colourText);
    return { r_hex: text.substr(1, 2), g_hex: text.substr(3, 2), b_hex: text.substr(5, 2) };
}

function effectRequest(effect, position, colourText) {
    var parts = colourComponents(colourText);
    return {
        "function": Codes.Request.ArgbControl,
        "effect": effect,
        "ARGBSliderSpeed": position,
        "speed": speedByte(position),
        "r_hex": parts.r_hex,
        "g_hex": parts.g_hex,
        "b_hex": parts.b_hex
    };
}

// Lighting off keeps the user's colour in the settings: the worker stores
// nothing of the effect for this request, so the black Static is only sent.
function offRequest(position) {
    return {
        "function": Codes.Request.ArgbSwitch,
        "RGB": "OFF",
        "effect": StaticEffect,
        "ARGBSliderSpeed": position,
        "speed": speedByte(position),
        "r_hex": OffColour,
        "g_hex": OffColour,
        "b_hex": OffColour
    };
}

function syncRequest() {
    return { "function": Codes.Request.SyncMotherboard };
}

function leaveSyncRequest() {
    return { "function": Codes.Request.LeaveMotherboardSync, "controlMode": 0 };
}
