import QtQuick 2.9
import QtTest 1.2
import "qrc:/pages/Lighting.js" as Lighting
import "qrc:/pages/Colour.js" as Colour

// The lighting page's arithmetic and vocabulary, without the page.
TestCase {
    name: "LightingLogic"

    // ---- effects -----------------------------------------------------------------


    function test_veil_data() {
        return [
            { tag: "Static", code: 1, veil: false },
            { tag: "Breath", code: 2, veil: false },
            { tag: "Strobing", code: 3, veil: false },
            { tag: "Color Cycling", code: 4, veil: true },
            { tag: "Rainbow", code: 5, veil: true },
            { tag: "Breath Rainbow", code: 6, veil: true },
            { tag: "Comet", code: 7, veil: false },
            { tag: "Comet Rainbow", code: 8, veil: true },
            { tag: "Flash", code: 9, veil: false },
            { tag: "Flash Rainbow", code: 10, veil: true },
            { tag: "Wave", code: 11, veil: true },
            { tag: "Glowing Yoyo", code: 12, veil: true },
            { tag: "Starry Night", code: 13, veil: true },
            { tag: "none", code: -1, veil: false },
            { tag: "zero", code: 0, veil: false },
            { tag: "fourteen", code: 14, veil: false }
        ];
    }

    function test_veil(data) {
        compare(Lighting.veilsColours(data.code), data.veil);
    }

    function test_buttonPlaces_data() {
        return [
            { tag: "Color Cycling", index: 0, x: 40, y: 60 },
            { tag: "Static", index: 1, x: 154, y: 60 },
            { tag: "Glowing Yoyo", index: 4, x: 496, y: 60 },
            { tag: "Starry Night", index: 5, x: 40, y: 160 },
            { tag: "Strobing", index: 9, x: 496, y: 160 },
            { tag: "Comet Rainbow", index: 12, x: 268, y: 260 }
        ];
    }

    function test_buttonPlaces(data) {
        var e = Lighting.Effects[data.index];
        compare(e.label, data.tag);
        var place = Lighting.buttonPosition(e.row, Lighting.columnOf(data.index));
        compare(place.x, data.x);
        compare(place.y, data.y);
    }

    // ---- speed -------------------------------------------------------------------


    function test_restoredSpeed_data() {
        return [
            { tag: "int", stored: 4, result: 4 },
            { tag: "text", stored: "2", result: 2 },
            { tag: "above", stored: 9, result: 5 },
            { tag: "below", stored: 0, result: 1 },
            { tag: "negative", stored: -3, result: 1 },
            { tag: "garbage", stored: "fast", result: 3 },
            { tag: "missing", stored: undefined, result: 3 }
        ];
    }

    function test_restoredSpeed(data) {
        compare(Lighting.restoredSpeed(data.stored, 3), data.result);
    }

    // ---- requests ----------------------------------------------------------------

    function test_effectRequest() {
        compare(Lighting.effectRequest(7, 4, "#00ff80"), {
            "function": 1, "effect": 7, "ARGBSliderSpeed": 4, "speed": "FF",
            "r_hex": "00", "g_hex": "ff", "b_hex": "80"
        });
        var upper = Lighting.effectRequest(5, 1, "#FFFFFF");
        compare([upper["r_hex"], upper["g_hex"], upper["b_hex"], upper["speed"]], ["FF", "FF", "FF", "02"]);
    }

    function test_offRequest() {
        compare(Lighting.offRequest(5), {
            "function": 13, "RGB": "OFF", "effect": 1, "ARGBSliderSpeed": 5, "speed": "FE",
            "r_hex": "00", "g_hex": "00", "b_hex": "00"
        });
        compare(Lighting.leaveSyncRequest(), { "function": 9, "controlMode": 0 });
        compare(Lighting.syncRequest(), { "function": 8 });
    }

    // ---- picker geometry -----------------------------------------------------------

    function test_cursorPosition_data() {
        return [
            { tag: "far left", p: -40, pos: 2 },
            { tag: "edge", p: 0, pos: 2 },
            { tag: "inside", p: 50, pos: 43 },
            { tag: "near right", p: 120, pos: 113 },
            { tag: "right", p: 123, pos: 116 },
            { tag: "far right", p: 400, pos: 116 }
        ];
    }

    function test_cursorPosition(data) {
        compare(Colour.cursorPosition(data.p), data.pos);
    }

    function test_knobPosition_data() {
        return [
            { tag: "above", p: -20, pos: 0 },
            { tag: "top", p: 7, pos: 0 },
            { tag: "middle", p: 60, pos: 53 },
            { tag: "bottom", p: 116, pos: 102 },
            { tag: "below", p: 300, pos: 102 }
        ];
    }

    function test_knobPosition(data) {
        compare(Colour.knobPosition(data.p), data.pos);
    }

    // ---- square hue table ------------------------------------------------------------

    function test_squareHue_data() {
        return [
            { tag: "hue 0 red", hue: 0, rgb: [1, 0, 0] },
            { tag: "hue 1 red", hue: 1, rgb: [1, 0, 0] },
            { tag: "v 0.08", hue: 0.92, rgb: [1, 0, 0.5] },
            { tag: "v 0.16 magenta", hue: 0.84, rgb: [1, 0, 1] },
            { tag: "v 0.33 blue", hue: 0.67, rgb: [0, 0, 1] },
            { tag: "v 0.5 cyan", hue: 0.5, rgb: [0, 1, 1] },
            { tag: "v 0.63", hue: 0.37, rgb: [0, 1, 0.5] },
            { tag: "v 0.76 green", hue: 0.24, rgb: [0, 1, 0] },
            { tag: "v 0.85 yellow", hue: 0.15, rgb: [1, 1, 0] },
            { tag: "v 0.925", hue: 0.075, rgb: [1, 0.5, 0] }
        ];
    }

    function test_squareHue(data) {
        var c = Colour.squareHue(data.hue);
        fuzzyCompare(c.r, data.rgb[0], 1e-9, "red");
        fuzzyCompare(c.g, data.rgb[1], 1e-9, "green");
        fuzzyCompare(c.b, data.rgb[2], 1e-9, "blue");
    }

    // ---- colours -----------------------------------------------------------------------

    function test_hsvToRgb_data() {
        return [
            { tag: "red", h: 0, s: 1, v: 1, rgb: [255, 0, 0] },
            { tag: "green", h: 1 / 3, s: 1, v: 1, rgb: [0, 255, 0] },
            { tag: "blue", h: 2 / 3, s: 1, v: 1, rgb: [0, 0, 255] },
            { tag: "full turn", h: 1, s: 1, v: 1, rgb: [255, 0, 0] },
            { tag: "white", h: 0.4, s: 0, v: 1, rgb: [255, 255, 255] },
            { tag: "black", h: 0.7, s: 1, v: 0, rgb: [0, 0, 0] },
            { tag: "210 degrees", h: 210 / 360, s: 68 / 86, v: 86 / 255, rgb: [0x12, 0x34, 0x56] },
            { tag: "330 degrees", h: 330 / 360, s: 1, v: 1, rgb: [255, 0, 128] }
        ];
    }

    function test_hsvToRgb(data) {
        var c = Colour.hsvToRgb(data.h, data.s, data.v);
        compare([c.r, c.g, c.b], data.rgb);
    }

    function test_colourText() {
        compare(Colour.colourText({ r: 0, g: 255, b: 0 }), "#00ff00");
        compare(Colour.colourText({ r: 5, g: 171, b: 16 }), "#05ab10");
    }

    function test_storedDigits_data() {
        return [
            { tag: "upper", r: "FF", g: "00", b: "80", digits: "FF0080" },
            { tag: "lower", r: "ab", g: "cd", b: "ef", digits: "abcdef" },
            { tag: "zz", r: "zz", g: "00", b: "00", digits: "" },
            { tag: "short", r: "F", g: "00", b: "00", digits: "" },
            { tag: "long", r: "FFF", g: "00", b: "00", digits: "" },
            { tag: "shifted but six", r: "F", g: "FFF", b: "FF", digits: "FFFFFF" },
            { tag: "missing", r: undefined, g: "00", b: "00", digits: "" },
            { tag: "hash inside", r: "#F", g: "00", b: "00", digits: "" }
        ];
    }

    function test_storedDigits(data) {
        compare(Colour.storedDigits(data.r, data.g, data.b), data.digits);
    }

    function test_isSixHex() {
        verify(Colour.isSixHex("ab12CD"));
        verify(!Colour.isSixHex("GG0000"), "letters past F are not hexadecimal");
        verify(!Colour.isSixHex("00FF0"));
        verify(!Colour.isSixHex("#00FF00"));
        verify(!Colour.isSixHex("00 F00"));
    }

    // ---- positioning from digits ----------------------------------------------------------

    function test_positionFor_data() {
        return [
            { tag: "green", digits: "00FF00", degrees: 120, knob: 34, x: 116, y: 0 },
            { tag: "white", digits: "FFFFFF", degrees: 0, knob: 0, x: 0, y: 0 },
            { tag: "black", digits: "000000", degrees: 0, knob: 0, x: 0, y: 116 },
            { tag: "grey", digits: "808080", degrees: 0, knob: 0, x: 0, y: 116 * (1 - 128 / 255) },
            { tag: "pink wraps", digits: "ff0080", degrees: 330, knob: 330 / 360 * 102, x: 116, y: 0 },
            { tag: "blue", digits: "0000FF", degrees: 240, knob: 68, x: 116, y: 0 },
            { tag: "yellow", digits: "FFFF00", degrees: 60, knob: 17, x: 116, y: 0 }
        ];
    }

    function test_positionFor(data) {
        var p = Colour.positionFor(data.digits);
        verify(p !== null);
        compare(p.degrees, data.degrees);
        fuzzyCompare(p.knob, data.knob, 1e-9, "knob");
        fuzzyCompare(p.cursorX, data.x, 1e-9, "cursor x");
        fuzzyCompare(p.cursorY, data.y, 1e-9, "cursor y");
    }

    function test_positionForRefusesNonHex() {
        compare(Colour.positionFor("zz0000"), null);
        compare(Colour.positionFor("00FF0"), null);
        compare(Colour.positionFor(""), null);
    }

    // The picker stands on the typed colour up to the hue's whole degrees: each
    // component within a couple of steps, exact where the hue is whole.
    function test_roundTrip() {
        var exact = ["123456", "00ff00", "ffffff", "000000", "ff0080", "336699"];
        for (var i = 0; i < exact.length; ++i) {
            var p = Colour.positionFor(exact[i]);
            compare(Colour.colourText(Colour.pickerColour(p.knob, p.cursorX, p.cursorY)), "#" + exact[i]);
        }
        var samples = ["1a2b3c", "fe0135", "7f7f80", "c0ffee", "badf00", "0d0d0e", "abcdef", "010203"];
        for (var j = 0; j < samples.length; ++j) {
            var d = samples[j];
            var q = Colour.positionFor(d);
            var c = Colour.pickerColour(q.knob, q.cursorX, q.cursorY);
            var want = [parseInt(d.substr(0, 2), 16), parseInt(d.substr(2, 2), 16), parseInt(d.substr(4, 2), 16)];
            var got = [c.r, c.g, c.b];
            for (var k = 0; k < 3; ++k)
                verify(Math.abs(got[k] - want[k]) <= 3, d + " component " + k + ": " + got[k] + " vs " + want[k]);
        }
    }
}
