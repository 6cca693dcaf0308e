import QtQuick 2.9
import QtTest 1.2
import "qrc:/pages/Colour.js" as Colour

// The lighting page in the real window on the fake worker: effects, the colour
// picker and hex field, the speed slider, the two switches and the restore.
TestCase {
    id: test
    name: "ArgbPage"
    when: windowShown

    ShellFixture { id: fixture }

    property var w: null

    function init() {
        w = fixture.create();
        verify(w !== null, "main.qml did not load");
    }

    function cleanup() {
        fixture.destroyScene();
        w = null;
    }

    // From the content item: the visual search reaches the effect buttons,
    // which a Repeater makes without an object parent.
    function item(name) {
        var found = findChild(w.contentItem, name) || findChild(w, name);
        verify(found !== null, "no item " + name);
        return found;
    }

    // Start-up with a card, window shown, requests of the start-up forgotten.
    function start(userOverrides) {
        fixture.passLoading(1, userOverrides || {});
        w.showMainWindow();
        tryCompare(w, "visible", true);
        w.requestActivate();
        tryCompare(w, "active", true);
        workerThread.reset();
    }

    function last() {
        return workerThread.lastRequest();
    }

    function colourOf(request) {
        return [request["r_hex"], request["g_hex"], request["b_hex"]];
    }

    function typeHex(text) {
        var input = item("hexInput");
        mouseDoubleClickSequence(item("hexField"));
        verify(input.activeFocus, "a click gives the hex field focus");
        for (var i = 0; i < text.length; ++i)
            keyClick(text.charAt(i));
    }

    function pressEnter() {
        keyClick(Qt.Key_Return);
    }

    // ---- hex field ----------------------------------------------------------------

    function test_enterInUnchangedField_data() {
        return [
            { tag: "white", stored: ["FF", "FF", "FF"], sent: ["ff", "ff", "ff"] },
            { tag: "lower case stored", stored: ["12", "34", "56"], sent: ["12", "34", "56"] },
            { tag: "pink", stored: ["FF", "00", "80"], sent: ["ff", "00", "80"] }
        ];
    }

    function test_enterInUnchangedField(data) {
        start({ "r_hex": data.stored[0], "g_hex": data.stored[1], "b_hex": data.stored[2], "argb_effect": 2 });
        compare(item("hexInput").text, (data.stored.join("")).toUpperCase());
        mouseClick(item("hexField"));
        pressEnter();
        compare(workerThread.requestCount, 1);
        compare(last()["function"], 1);
        compare(last()["effect"], 2);
        compare(last()["ARGBSliderSpeed"], 3);
        compare(last()["speed"], "00");
        compare(colourOf(last()), data.sent, "the current colour goes again");
        compare(item("hexInput").activeFocus, false, "Enter takes the focus away");
    }

    function test_typedGreen() {
        start({ "argb_effect": 1 });
        typeHex("00ff00");
        compare(item("hexInput").text, "00FF00", "the field shows upper case");
        pressEnter();
        compare(workerThread.requestCount, 1);
        var r = last();
        compare(r["function"], 1);
        compare(r["effect"], 1);
        compare(colourOf(r), ["00", "ff", "00"]);
        compare(w.hex_color, "#00ff00");
        compare([w.r_color, w.g_color, w.b_color], [0, 255, 0]);
        fuzzyCompare(item("hueKnob").y, 120 / 360 * 102, 1e-6, "knob at 120 of 360 degrees");
        compare(item("colourCursor").x, 116, "saturation 1: right edge");
        compare(item("colourCursor").y, 0, "value 1: top edge");
        compare(item("hexInput").activeFocus, false);
    }

    function test_hexFieldRefusesOtherLetters() {
        start({ "argb_effect": 1 });
        typeHex("00FG");
        compare(item("hexInput").text, "00F", "letters past F never get in");
        pressEnter();
        compare(workerThread.requestCount, 0, "five or fewer digits are no colour");
        compare(item("hexInput").text, "FFFFFF", "the field goes back to the current colour");
        compare(w.hex_color, "#ffffff");
    }

    function test_veiledFieldTakesNoFocus() {
        start({ "argb_effect": 5 });
        mouseClick(item("hexField"));
        compare(item("hexInput").activeFocus, false, "Rainbow veils the colour panel");
    }

    function test_enterWithNoEffectUsesStatic() {
        start({ "argb_effect": -1 });
        compare(w.effectCurrentMode, -1);
        mouseClick(item("hexField"));
        pressEnter();
        compare(last()["effect"], 1);
        compare(w.effectCurrentMode, 1);
        compare(item("effect_1").selected, true);
    }

    function test_clickOnMainAreaDropsFocus() {
        start({ "argb_effect": 1 });
        mouseClick(item("hexField"));
        verify(item("hexInput").activeFocus);
        mouseClick(item("mainArea"), 20, 20);
        compare(item("hexInput").activeFocus, false);
        compare(workerThread.requestCount, 0);
    }

    // ---- effects -----------------------------------------------------------------

    function test_rainbowVeilsStaticLifts() {
        start({ "argb_effect": 1 });
        compare(item("colourVeil").visible, false);
        mouseClick(item("effect_5"));
        compare(last()["function"], 1);
        compare(last()["effect"], 5);
        compare(item("colourVeil").visible, true, "Rainbow ignores the colour");
        compare(item("effect_5").selected, true);
        compare(item("effect_1").selected, false);

        // The veil swallows the press: the picker does not move, nothing goes out.
        var before = workerThread.requestCount;
        mouseClick(item("colourSquare"), 100, 100);
        compare(workerThread.requestCount, before);
        compare(item("colourCursor").x, 0, "white restored: cursor still at the left edge");

        mouseClick(item("effect_1"));
        compare(last()["effect"], 1);
        compare(item("colourVeil").visible, false);
        compare(item("effect_1").selected, true);
        compare(item("effect_5").selected, false);
    }

    function test_everyEffectSendsItsCode() {
        start({});
        var codes = [4, 1, 5, 11, 12, 13, 7, 2, 9, 3, 10, 6, 8];
        for (var i = 0; i < codes.length; ++i) {
            mouseClick(item("effect_" + codes[i]));
            compare(last()["effect"], codes[i]);
            compare(item("colourVeil").visible, [1, 2, 3, 7, 9].indexOf(codes[i]) < 0, "veil for " + codes[i]);
        }
        compare(workerThread.requestCount, codes.length);
    }

    function test_effectColours() {
        start({ "argb_effect": 1 });
        var face5 = findChild(item("effect_5"), "face");
        var face1 = findChild(item("effect_1"), "face");
        compare(String(face1.bgColor), "#ffffff", "selected, dark");
        compare(String(face5.bgColor), "#122143");
        mouseMove(item("effect_5"), 50, 50);
        compare(String(face5.bgColor), "#18409a", "under the pointer");
        mouseMove(item("effect_1"), 50, 50);
        compare(String(face5.bgColor), "#122143", "back when the pointer leaves");
        compare(String(face1.bgColor), "#ffffff", "the selected button keeps its colour");
        w.displayMode = 1;
        compare(String(face1.bgColor), "#004eff", "selected, light");
        compare(String(face5.bgColor), "#e4e9f6");
        compare(String(face5.buttonColor), "#5875af");
        compare(String(item("hexField").color), "#d7e0f3");
        compare(String(item("defaultModeButton").color), "#d7dff3");
    }

    function test_defaultMode() {
        start({ "argb_effect": 2 });
        var button = item("defaultModeButton");
        mouseMove(button, 20, 10);
        compare(String(button.color), "#18405a");
        mouseMove(item("effect_2"), 50, 50);
        compare(String(button.color), "#122143");
        mouseClick(button);
        compare(workerThread.requestCount, 1);
        compare(last()["function"], 1);
        compare(last()["effect"], 5);
        compare(w.effectCurrentMode, 5);
        compare(item("effect_5").selected, true);
        compare(item("colourVeil").visible, true);
    }

    function test_defaultModeHoverLight() {
        start({ "displayMode": 1 });
        var button = item("defaultModeButton");
        compare(String(button.color), "#d7dff3", "as the restore paints it");
        mouseMove(button, 20, 10);
        compare(String(button.color), "#5f79b2");
        mouseMove(item("effect_2"), 50, 50);
        compare(String(button.color), "#e2ebff", "once the pointer has left");
    }

    // ---- colour picker ---------------------------------------------------------------

    function test_squarePressMovesCursorAndReleaseSends() {
        start({ "argb_effect": 1 });
        var square = item("colourSquare");
        var cursor = item("colourCursor");
        mousePress(square, 123, 7);
        compare(cursor.scale, 0.7);
        compare(cursor.x, 116);
        compare(cursor.y, 2, "the cursor keeps 2 pixels from the top");
        compare(workerThread.requestCount, 0, "nothing goes out before the release");
        mouseMove(square, 60, 60);
        compare(cursor.x, 53);
        compare(cursor.y, 53);
        mouseMove(square, 123, 7);
        mouseRelease(square, 123, 7);
        compare(cursor.scale, 1.0);
        compare(workerThread.requestCount, 1);
        // Hue 0, saturation 1, brightness 1 - 2/116.
        compare(colourOf(last()), ["fb", "00", "00"]);
        compare(w.hex_color, "#fb0000");
        compare(item("hexInput").text, "FB0000");
    }

    function test_hueBar() {
        start({ "r_hex": "FF", "g_hex": "00", "b_hex": "00", "argb_effect": 1 });
        var bar = item("hueBar");
        var knob = item("hueKnob");
        mousePress(bar, 6, 41);
        compare(knob.scale, 0.6);
        compare(knob.y, 34);
        mouseRelease(bar, 6, 41);
        compare(knob.scale, 0.9);
        compare(colourOf(last()), ["00", "ff", "00"], "a third down the bar is green");
        mousePress(bar, 6, 100);
        mouseMove(bar, 6, -30);
        compare(knob.y, 0);
        mouseMove(bar, 6, 400);
        compare(knob.y, 102);
        mouseRelease(bar, 6, 400);
        compare(colourOf(last()), ["ff", "00", "00"], "the bottom of the bar is red again");
    }

    function test_restoredColour_data() {
        return [
            { tag: "zz", stored: ["zz", "00", "00"], valid: false },
            { tag: "missing green", stored: ["00", undefined, "00"], valid: false },
            { tag: "green", stored: ["00", "FF", "00"], valid: true }
        ];
    }

    function test_restoredColour(data) {
        var overrides = { "r_hex": data.stored[0], "g_hex": data.stored[1], "b_hex": data.stored[2] };
        start(overrides);
        if (data.valid) {
            compare(w.hex_color, "#00ff00");
            fuzzyCompare(item("hueKnob").y, 34, 1e-6);
            compare(item("colourCursor").x, 116);
            compare(item("colourCursor").y, 0);
            return;
        }
        var own = Colour.colourText(Colour.pickerColour(0, 50, 50));
        compare(item("hueKnob").y, 0, "the picker stays where it is");
        compare(item("colourCursor").x, 50);
        compare(item("colourCursor").y, 50);
        compare(w.hex_color, own, "the colour text takes the picker's colour");
        compare(item("hexInput").text, own.substr(1).toUpperCase());
        mouseClick(item("effect_1"));
        compare(colourOf(last()), [own.substr(1, 2), own.substr(3, 2), own.substr(5, 2)]);
    }

    // ---- speed -------------------------------------------------------------------------

    function test_sliderFrom3To5() {
        start({ "argb_effect": 7, "r_hex": "12", "g_hex": "34", "b_hex": "56" });
        var slider = item("speedSlider");
        compare(slider.value, 3);
        compare(item("speedHandle").x, 90, "position 3 sits at half of 180");
        mousePress(slider, 97, 10);
        mouseMove(slider, 120, 10);
        mouseMove(slider, 142, 10);
        mouseMove(slider, 165, 10);
        mouseMove(slider, 187, 10);
        mouseRelease(slider, 187, 10);
        compare(workerThread.requestCount, 2);
        var first = workerThread.request(0);
        var second = workerThread.request(1);
        compare([first["function"], first["ARGBSliderSpeed"], first["speed"]], [1, 4, "FF"]);
        compare([second["function"], second["ARGBSliderSpeed"], second["speed"]], [1, 5, "FE"]);
        compare(first["effect"], 7);
        compare(second["effect"], 7);
        compare(colourOf(first), ["12", "34", "56"]);
        compare(colourOf(second), ["12", "34", "56"]);
        compare(w.effectSpeed, 5);
        compare(item("speedHandle").x, 180);
    }

    // ---- switches ------------------------------------------------------------------------

    function test_offWhileHandedToMotherboardThenOn() {
        start({});
        mouseClick(item("syncSwitch"));
        compare(last()["function"], 8);
        compare(w.isSyncMB, true);
        compare(item("effectsPanel").opacity, 0.2);
        compare(item("effectsPanel").enabled, false);
        compare(item("defaultModeVeil").visible, true);

        mouseClick(item("argbSwitch"));
        var off = last();
        compare(off["function"], 13);
        compare(off["RGB"], "OFF");
        compare(off["effect"], 1);
        compare(off["ARGBSliderSpeed"], 3);
        compare(off["speed"], "00");
        compare(colourOf(off), ["00", "00", "00"]);
        compare(item("syncSwitch").checked, false);
        compare(w.isSyncMB, true, "the hand-over is remembered for the next switch-on");
        compare(w.aRGB_ON, false);
        compare(item("syncVeil").visible, true);

        mouseClick(item("argbSwitch"));
        compare(fixture.sentCodes(), [8, 13, 8]);
        compare(last()["RGB"], "ON");
        compare(item("syncSwitch").checked, true);
        compare(item("syncVeil").visible, false);
        compare(item("defaultModeVeil").visible, true);
        compare(item("colorsPanel").opacity, 0.2, "the motherboard still has the lighting");
        compare(w.aRGB_ON, true);
    }

    function test_offThenOnSendsPickerColour() {
        start({ "argb_effect": 9, "r_hex": "00", "g_hex": "FF", "b_hex": "00" });
        mouseClick(item("argbSwitch"));
        compare(last()["function"], 13);
        compare(item("speedPanel").opacity, 0.2);
        compare(item("speedPanel").enabled, false);
        // Lighting off: the Sync Motherboard panel is veiled and takes nothing.
        mouseClick(item("syncSwitch"));
        compare(workerThread.requestCount, 1);
        compare(item("syncSwitch").checked, false);

        mouseClick(item("argbSwitch"));
        var on = last();
        compare(on["function"], 1);
        compare(on["RGB"], "ON");
        compare(on["effect"], 9);
        compare(colourOf(on), ["00", "ff", "00"]);
        compare(item("speedPanel").opacity, 1.0);
        compare(item("effectsPanel").enabled, true);
        compare(item("defaultModeVeil").visible, false);
    }

    function test_leaveMotherboard() {
        start({});
        mouseClick(item("syncSwitch"));
        mouseClick(item("syncSwitch"));
        compare(fixture.sentCodes(), [8, 9]);
        compare(last()["controlMode"], 0);
        compare(w.isSyncMB, false);
        compare(item("effectsPanel").opacity, 1.0);
        compare(item("defaultModeVeil").visible, false);
    }

    // ---- restore -------------------------------------------------------------------------

    function test_restoreSendsNothing_data() {
        return [
            { tag: "on", user: { "RGB": "ON", "RGBControlMode": "MCU", "ARGBSliderSpeed": 5 } },
            { tag: "off", user: { "RGB": "OFF", "RGBControlMode": "MCU", "ARGBSliderSpeed": 1 } },
            { tag: "motherboard", user: { "RGB": "ON", "RGBControlMode": "MB", "ARGBSliderSpeed": 2 } }
        ];
    }

    function test_restoreSendsNothing(data) {
        fixture.replyStartUp(1, data.user);
        compare(workerThread.requestCount, 1, "only the start-up request");
        compare(item("speedSlider").value, data.user["ARGBSliderSpeed"]);
        compare(w.effectSpeed, data.user["ARGBSliderSpeed"]);
    }

    function test_restoreOff() {
        start({ "RGB": "OFF", "argb_effect": 11 });
        compare(item("argbSwitch").checked, false);
        compare(w.aRGB_ON, false);
        compare(item("effectsPanel").opacity, 0.2);
        compare(item("syncVeil").visible, true);
        compare(item("defaultModeVeil").visible, true);
        compare(item("effect_11").selected, true, "the restored effect is the one shown");
        mouseClick(item("argbSwitch"));
        compare(last()["function"], 1);
        compare(last()["effect"], 11);
    }

    function test_restoreMotherboard() {
        start({ "RGBControlMode": "MB", "argb_effect": 2 });
        compare(item("syncSwitch").checked, true);
        compare(item("effectsPanel").opacity, 0.2);
        compare(item("colorsPanel").enabled, false);
        compare(item("defaultModeVeil").visible, true, "Default Mode would take the lighting back");
        compare(item("effect_2").selected, true);
        // Off and on again returns the lighting to the motherboard, as it does
        // when the hand-over was made in this run.
        mouseClick(item("argbSwitch"));
        mouseClick(item("argbSwitch"));
        compare(fixture.sentCodes(), [13, 8]);
        compare(item("syncSwitch").checked, true);
    }
}
