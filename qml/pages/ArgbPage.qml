import QtQuick 2.14
import "../components" as Model
import "../logic/Theme.js" as Theme
import "Lighting.js" as Lighting
import "Colour.js" as Colour

// The lighting page: on/off, hand-over to the motherboard, thirteen effects,
// one colour and five speeds. Every change goes to the worker at once; the
// window's root state holds what the page shows.
Item {
    id: page
    required property var app
    width: 905
    height: 462

    readonly property int mode: app.displayMode
    readonly property real dimmedOpacity: 0.2
    readonly property string fontFile: "qrc:/font/Kanit-Regular.ttf"

    // Picker state: the hue knob along the bar and the cursor in the square.
    property real knobPos: 0
    property real cursorX: Colour.CursorStart
    property real cursorY: Colour.CursorStart
    property color knobHue: pureHue(knobPos)
    property color defaultModeColour: Theme.colour("defaultModeButton", mode)
    property bool defaultModeLit: false

    // ---- what the page offers the window ---------------------------------------

    // Reply 0, lighting part: motherboard hand-over, effect, on/off, speed.
    // Nothing is sent: the window is still starting.
    function restoreLighting(userControlData) {
        var data = userControlData || {};
        var controlMode = data["RGBControlMode"];
        if (controlMode === "MB") {
            syncSwitch.checked = true;
            setPanelsUsable(false);
            // The hand-over is the user's standing choice: "Default Mode" would
            // take the lighting back, and switching the lighting off and on
            // again must return it to the motherboard as it does within a run.
            defaultModeVeil.visible = true;
            app.isSyncMB = true;
        }
        var effect = parseInt(String(data["argb_effect"]), 10);
        if (!isNaN(effect))
            app.effectCurrentMode = effect;
        if (controlMode === "MCU") {
            var on = data["RGB"] !== "OFF";
            if (data["RGB"] === "ON" || data["RGB"] === "OFF") {
                argbSwitch.checked = on;
                app.aRGB_ON = on;
                setPanelsUsable(on);
                defaultModeVeil.visible = !on;
                syncVeil.visible = !on;
            }
        }
        // The buttons show the restored effect whatever state the lighting is in,
        // so what is highlighted is what the next request sends.
        markSelection();
        app.effectSpeed = Lighting.restoredSpeed(data["ARGBSliderSpeed"], app.effectSpeed);
        speedSlider.value = app.effectSpeed;
    }

    // Reply 0, colour part.
    function restoreColour(userControlData) {
        var data = userControlData || {};
        var digits = Colour.storedDigits(data["r_hex"], data["g_hex"], data["b_hex"]);
        if (digits !== "") {
            app.hex_color = "#" + digits;
            hexInput.text = digits.toUpperCase();
            positionPicker(digits);
        } else {
            takePickerColour();
            showColourInField();
        }
    }

    function applyTheme() {
        defaultModeColour = Theme.colour("defaultModeButton", app.displayMode);
        defaultModeLit = false;
        markSelection();
    }

    function dropHexFocus() {
        hexInput.focus = false;
    }

    // ---- requests ----------------------------------------------------------------

    function sendEffect(extraKeys) {
        var request = Lighting.effectRequest(app.effectCurrentMode, app.effectSpeed, app.hex_color);
        for (var key in extraKeys)
            request[key] = extraKeys[key];
        app.sendRequest(request);
    }

    // ---- effects -----------------------------------------------------------------

    function markSelection() {
        for (var i = 0; i < effectButtons.count; ++i)
            effectButtons.itemAt(i).selected = false;
        colourVeil.visible = false;
        for (var j = 0; j < effectButtons.count; ++j) {
            var button = effectButtons.itemAt(j);
            if (button.code === app.effectCurrentMode)
                button.selected = true;
        }
        colourVeil.visible = Lighting.veilsColours(app.effectCurrentMode);
    }

    function chooseEffect(code) {
        app.effectCurrentMode = code;
        sendEffect({});
        markSelection();
    }

    function chooseDefaultMode() {
        app.effectCurrentMode = Lighting.DefaultEffect;
        markSelection();
        sendEffect({});
    }

    function setPanelsUsable(usable) {
        effectsPanel.opacity = usable ? 1.0 : dimmedOpacity;
        colorsPanel.opacity = usable ? 1.0 : dimmedOpacity;
        speedPanel.opacity = usable ? 1.0 : dimmedOpacity;
        effectsPanel.enabled = usable;
        colorsPanel.enabled = usable;
        speedPanel.enabled = usable;
    }

    // ---- switches ----------------------------------------------------------------

    function argbSwitched(on) {
        if (app.startApp)
            return;
        if (on) {
            setPanelsUsable(true);
            defaultModeVeil.visible = false;
            syncVeil.visible = false;
            app.aRGB_ON = true;
            if (app.isSyncMB) {
                syncSwitch.checked = true;
                syncSwitched(true, { "RGB": "ON" });
            } else {
                takePickerColour();
                sendEffect({ "RGB": "ON" });
            }
        } else {
            app.aRGB_ON = false;
            setPanelsUsable(false);
            defaultModeVeil.visible = true;
            syncVeil.visible = true;
            app.sendRequest(Lighting.offRequest(app.effectSpeed));
            // Silently: isSyncMB stays set for the next switch-on.
            if (syncSwitch.checked)
                syncSwitch.checked = false;
        }
    }

    function syncSwitched(on, extraKeys) {
        if (app.startApp)
            return;
        var request = on ? Lighting.syncRequest() : Lighting.leaveSyncRequest();
        for (var key in extraKeys)
            request[key] = extraKeys[key];
        if (on) {
            setPanelsUsable(false);
            defaultModeVeil.visible = true;
            app.isSyncMB = true;
        } else {
            app.isSyncMB = false;
            setPanelsUsable(true);
            defaultModeVeil.visible = false;
        }
        app.sendRequest(request);
    }

    function speedMoved(value) {
        if (app.startApp)
            return;
        var position = Math.round(value);
        if (position === app.effectSpeed)
            return;
        app.effectSpeed = position;
        sendEffect({});
    }

    // ---- colour picker -----------------------------------------------------------

    function pureHue(knob) {
        var c = Colour.squareHue(Colour.hueAt(knob));
        return Qt.rgba(c.r, c.g, c.b, 1);
    }

    function pickerText() {
        return Colour.colourText(Colour.pickerColour(knobPos, cursorX, cursorY));
    }

    // The picker moved: the colour text and the three components follow it.
    function takePickerColour() {
        var rgb = Colour.pickerColour(knobPos, cursorX, cursorY);
        app.hex_color = Colour.colourText(rgb);
        app.r_color = rgb.r;
        app.g_color = rgb.g;
        app.b_color = rgb.b;
    }

    function showColourInField() {
        hexInput.text = String(app.hex_color).substr(1).toUpperCase();
    }

    function showHexHint() {
        hexHint.visible = true;
        hexHintTimer.restart();
    }

    function positionPicker(digits) {
        var place = Colour.positionFor(digits);
        if (place === null)
            return false;
        knobPos = place.knob;
        cursorX = place.cursorX;
        cursorY = place.cursorY;
        takePickerColour();
        return true;
    }

    // Arrow keys on the hue bar and the square: each step is a release of the
    // pointer there, so the card follows the keys as it follows a click.
    function stepHue(steps) {
        knobPos = Colour.knobStepped(knobPos, steps);
        pickerReleased();
    }

    function stepCursor(dx, dy) {
        cursorX = Colour.cursorStepped(cursorX, dx);
        cursorY = Colour.cursorStepped(cursorY, dy);
        pickerReleased();
    }

    function pickerReleased() {
        takePickerColour();
        showColourInField();
        sendEffect({});
    }

    function hexEntered() {
        var digits = hexInput.text;
        if (!Colour.isSixHex(digits)) {
            // Only six hexadecimal digits make a colour: keep the card's colour
            // and let the user try again.
            showColourInField();
            hexInput.selectAll();
            showHexHint();
            return;
        }
        hexHint.visible = false;
        app.hex_color = "#" + digits;
        positionPicker(digits);
        // The picker rounds the hue to whole degrees; what goes to the card is
        // the picker's colour, so that is what the field shows.
        showColourInField();
        hexInput.focus = false;
        if (app.effectCurrentMode === Lighting.NoEffect) {
            app.effectCurrentMode = Lighting.StaticEffect;
            markSelection();
        }
        sendEffect({});
    }

    // ---- top-left: GPU RGB and Default Mode --------------------------------------

    Panel {
        id: rgbPanel
        objectName: "rgbPanel"
        x: 0
        y: 0
        width: 644
        height: 106
        displayMode: page.mode
        title: "GPU RGB"
        titleY: (height - titleItem.height) / 2

        ToggleSwitch {
            id: argbSwitch
            objectName: "argbSwitch"
            x: 40 + rgbPanel.titleWidth + 16
            anchors.verticalCenter: parent.verticalCenter
            displayMode: page.mode
            accessibleName: "GPU RGB"
            onToggledByUser: page.argbSwitched(on)
        }

        Rectangle {
            id: defaultModeButton
            objectName: "defaultModeButton"
            x: 438
            width: 168
            height: 38.2
            radius: 20
            anchors.verticalCenter: parent.verticalCenter
            color: page.defaultModeColour
            border.color: Theme.colour("outline", page.mode)
            border.width: 0.75

            Row {
                anchors.centerIn: parent
                spacing: 8
                Image {
                    anchors.verticalCenter: parent.verticalCenter
                    width: 24
                    height: 18
                    source: "qrc:/icon/KRB_LOGO.png"
                    fillMode: Image.PreserveAspectFit
                    smooth: true
                }
                Model.MText {
                    anchors.verticalCenter: parent.verticalCenter
                    width: textWidth
                    height: textHeight
                    objectName: "defaultModeLabel"
                    mText: "Default Mode"
                    mtextSize: 14
                    mcolor: page.defaultModeLit ? Theme.colour("defaultModeTextHover", page.mode)
                                                : Theme.colour("text", page.mode)
                    mfont: page.fontFile
                }
            }

            MouseArea {
                objectName: "defaultModePointer"
                anchors.fill: parent
                hoverEnabled: true
                cursorShape: Qt.PointingHandCursor
                onEntered: {
                    if (page.app.aRGB_ON) {
                        page.defaultModeColour = Theme.colour("defaultModeButtonHover", page.mode);
                        page.defaultModeLit = true;
                    }
                }
                onExited: {
                    if (page.app.aRGB_ON) {
                        page.defaultModeColour = Theme.colour("defaultModeButtonLeft", page.mode);
                        page.defaultModeLit = false;
                    }
                }
                onClicked: page.chooseDefaultMode()
            }

            Model.KeyControl {
                name: "Default Mode"
                enabled: !defaultModeVeil.visible
                ringRadius: defaultModeButton.radius
                onActivated: page.chooseDefaultMode()
            }

            Veil {
                id: defaultModeVeil
                objectName: "defaultModeVeil"
                anchors.fill: parent
                radius: parent.radius
                displayMode: page.mode
            }
        }
    }

    // ---- top-right: Sync Motherboard --------------------------------------------

    Panel {
        id: syncPanel
        objectName: "syncPanel"
        x: 654
        y: 0
        width: 250
        height: 106
        displayMode: page.mode
        title: "Sync Motherboard"
        titleY: 18

        // The title fills the panel's width, so the switch sits under it.
        ToggleSwitch {
            id: syncSwitch
            objectName: "syncSwitch"
            x: 40
            y: 64
            checked: false
            displayMode: page.mode
            accessibleName: "Sync Motherboard"
            onToggledByUser: page.syncSwitched(on, {})
        }

        Veil {
            id: syncVeil
            objectName: "syncVeil"
            anchors.fill: parent
            displayMode: page.mode
        }
    }

    // ---- effects -------------------------------------------------------------------

    Panel {
        id: effectsPanel
        objectName: "effectsPanel"
        x: 0
        y: 114
        width: 644
        height: 408
        displayMode: page.mode
        title: "GPU Effects"

        Repeater {
            id: effectButtons
            model: Lighting.Effects

            Item {
                id: button
                objectName: "effect_" + modelData.code
                readonly property int code: modelData.code
                readonly property string label: modelData.label
                property bool selected: false
                readonly property bool hovered: pointer.containsMouse
                readonly property var place: Lighting.buttonPosition(modelData.row, Lighting.columnOf(index))
                x: place.x
                y: place.y
                width: Lighting.ButtonWidth
                height: Lighting.ButtonHeight

                Model.Effect {
                    id: face
                    objectName: "face"
                    anchors.fill: parent
                    iconSource: modelData.icon
                    labelText: modelData.label
                    buttonColor: Theme.colour("effectIcon", page.mode)
                    borderColor: Theme.colour("effectBorder", page.mode)
                    textColor: Theme.colour("text", page.mode)
                    bgColor: button.selected ? Theme.colour("effectSelected", page.mode)
                           : button.hovered ? Theme.colour("effectHover", page.mode)
                           : Theme.colour("effectBackground", page.mode)
                }

                MouseArea {
                    id: pointer
                    anchors.fill: parent
                    hoverEnabled: true
                    cursorShape: Qt.PointingHandCursor
                    onClicked: page.chooseEffect(button.code)
                }

                Model.KeyControl {
                    id: keys
                    role: Accessible.RadioButton
                    name: button.label
                    checkable: true
                    checked: button.selected
                    takesArrows: true
                    onActivated: page.chooseEffect(button.code)
                    onArrow: effectButtons.itemAt(Lighting.neighbour(index, dx, dy)).takeFocus()
                }

                function takeFocus() {
                    keys.forceActiveFocus(Qt.TabFocusReason);
                }
            }
        }
    }

    // ---- colours ---------------------------------------------------------------------

    Panel {
        id: colorsPanel
        objectName: "colorsPanel"
        x: 654
        y: 114
        width: 250
        height: 298
        displayMode: page.mode
        title: "Colors"

        Rectangle {
            id: hueBar
            objectName: "hueBar"
            x: 48
            y: square.y + Colour.CursorSize / 2
            width: Colour.BarThickness
            height: Colour.BarLength
            radius: Colour.BarThickness / 2
            // The colours of the picker's bar and square are the colour space
            // the user picks from, the same in either theme: not theme colours.
            gradient: Gradient {
                GradientStop { position: 0.0;     color: "#FF0000" }
                GradientStop { position: 1 / 6;   color: "#FFFF00" }
                GradientStop { position: 2 / 6;   color: "#00FF00" }
                GradientStop { position: 3 / 6;   color: "#00FFFF" }
                GradientStop { position: 4 / 6;   color: "#0000FF" }
                GradientStop { position: 5 / 6;   color: "#FF00FF" }
                GradientStop { position: 1.0;     color: "#FF0000" }
            }

            Rectangle {
                id: knob
                objectName: "hueKnob"
                x: (parent.width - width) / 2
                y: page.knobPos
                width: Colour.KnobSize
                height: Colour.KnobSize
                radius: width / 2
                scale: Colour.KnobRestScale
                color: page.knobHue
                border.color: Theme.colour("hueKnobBorder", page.mode)
                border.width: 2
            }

            MouseArea {
                objectName: "huePointer"
                anchors.fill: parent
                anchors.leftMargin: -6
                anchors.rightMargin: -6
                preventStealing: true
                onPressed: {
                    knob.scale = Colour.KnobPressedScale;
                    page.knobPos = Colour.knobPosition(mouse.y);
                    page.takePickerColour();
                }
                onPositionChanged: {
                    page.knobPos = Colour.knobPosition(mouse.y);
                    page.takePickerColour();
                }
                onReleased: {
                    knob.scale = Colour.KnobRestScale;
                    page.pickerReleased();
                }
            }

            // Up and Down (or Left and Right) walk the hue.
            Model.KeyControl {
                objectName: "hueKeys"
                role: Accessible.Slider
                name: "Hue"
                description: "Arrow keys move along the hue bar"
                enabled: !colourVeil.visible
                takesArrows: true
                ringRadius: hueBar.radius
                onArrow: page.stepHue(dx + dy)
                Accessible.onIncreaseAction: page.stepHue(1)
                Accessible.onDecreaseAction: page.stepHue(-1)
            }
        }

        Item {
            id: square
            objectName: "colourSquare"
            x: 73
            y: 62
            width: Colour.SquareSize
            height: Colour.SquareSize

            // White to the pure hue, left to right (a vertical gradient turned).
            Rectangle {
                anchors.centerIn: parent
                width: parent.height
                height: parent.width
                rotation: -90
                gradient: Gradient {
                    GradientStop { position: 0.0; color: "#FFFFFF" }
                    GradientStop { position: 1.0; color: page.knobHue }
                }
            }
            // Transparent to black, top to bottom.
            Rectangle {
                anchors.fill: parent
                gradient: Gradient {
                    GradientStop { position: 0.0; color: "transparent" }
                    GradientStop { position: 1.0; color: "#000000" }
                }
            }

            Rectangle {
                id: cursor
                objectName: "colourCursor"
                x: page.cursorX
                y: page.cursorY
                width: Colour.CursorSize
                height: Colour.CursorSize
                radius: width / 2
                scale: Colour.CursorRestScale
                color: page.pickerColourValue
                border.color: Theme.colour("colourCursorBorder", page.mode)
                border.width: 2
            }

            MouseArea {
                objectName: "squarePointer"
                anchors.fill: parent
                preventStealing: true
                onPressed: {
                    cursor.scale = Colour.CursorPressedScale;
                    if (mouse.x > 0 && mouse.y > 0) {
                        page.cursorX = Colour.cursorPosition(mouse.x);
                        page.cursorY = Colour.cursorPosition(mouse.y);
                        page.takePickerColour();
                    }
                }
                onPositionChanged: {
                    page.cursorX = Colour.cursorPosition(mouse.x);
                    page.cursorY = Colour.cursorPosition(mouse.y);
                    page.takePickerColour();
                }
                onReleased: {
                    cursor.scale = Colour.CursorRestScale;
                    page.pickerReleased();
                }
            }

            Model.KeyControl {
                objectName: "squareKeys"
                role: Accessible.ColorChooser
                name: "Colour"
                description: "Left and Right: less or more colour; Up and Down: brighter or darker"
                enabled: !colourVeil.visible
                takesArrows: true
                ringRadius: 0
                onArrow: page.stepCursor(dx, dy)
            }
        }

        Row {
            id: hexRow
            x: square.x
            y: square.y + square.height + 30
            spacing: 4

            Model.MText {
                anchors.verticalCenter: parent.verticalCenter
                width: textWidth
                height: textHeight
                mText: "Hex "
                mtextSize: 14
                mcolor: Theme.colour("text", page.mode)
                mfont: page.fontFile
            }

            Rectangle {
                id: hexField
                objectName: "hexField"
                width: 80
                height: 20
                color: Theme.colour("hexFieldBackground", page.mode)
                border.width: 1
                border.color: hexHover.containsMouse || hexInput.activeFocus ? Theme.colour("hexFieldBorderActive", page.mode)
                                                                             : Theme.colour("hexFieldBorder", page.mode)

                Model.FocusRing {
                    visible: hexInput.activeFocus
                    radius: 0
                    mode: page.mode
                }

                TextInput {
                    id: hexInput
                    objectName: "hexInput"
                    anchors.fill: parent
                    horizontalAlignment: TextInput.AlignHCenter
                    verticalAlignment: TextInput.AlignVCenter
                    font.family: hexFont.name
                    font.pixelSize: 13
                    color: Theme.colour("text", page.mode)
                    selectionColor: Theme.colour("hexSelection", page.mode)
                    selectedTextColor: Theme.colour("hexSelectedText", page.mode)
                    inputMask: ">NNNNNN"
                    maximumLength: 7
                    // Six hexadecimal digits, with or without a leading "#": the
                    // mask keeps the "#" out of the text, so a validator that
                    // insisted on it would refuse every key.
                    validator: RegularExpressionValidator { regularExpression: /#?[0-9A-Fa-f]{0,6}/ }
                    clip: true
                    activeFocusOnTab: true
                    Accessible.role: Accessible.EditableText
                    Accessible.name: "Hex colour"
                    Accessible.description: "Six hex digits, 0-9 and A-F; Enter sets the colour"
                    Keys.onReturnPressed: page.hexEntered()
                    Keys.onEnterPressed: page.hexEntered()
                    // A typed letter the validator will refuse: say what fits.
                    // The key still goes on to the field, which drops it.
                    Keys.onPressed: {
                        if (event.text.length === 1 && event.text > " "
                                && !/[0-9A-Fa-f#]/.test(event.text))
                            page.showHexHint();
                        event.accepted = false;
                    }
                    onTextEdited: hexHint.visible = false
                }

                MouseArea {
                    id: hexHover
                    anchors.fill: parent
                    hoverEnabled: true
                    cursorShape: Qt.IBeamCursor
                    onClicked: {
                        hexInput.forceActiveFocus();
                        hexInput.cursorPosition = hexInput.positionAt(mouse.x, mouse.y);
                    }
                    onDoubleClicked: {
                        hexInput.forceActiveFocus();
                        hexInput.selectAll();
                    }
                }

                FontLoader {
                    id: hexFont
                    source: page.fontFile
                }
            }
        }

        Model.MText {
            id: hexHint
            objectName: "hexHint"
            x: 0
            y: hexRow.y + hexRow.height + 6
            width: parent.width
            height: textHeight
            visible: false
            mText: "Six hex digits, 0-9 and A-F"
            mtextSize: 12
            mcolor: Theme.colour("text", page.mode)
            mfont: page.fontFile
        }

        Timer {
            id: hexHintTimer
            objectName: "hexHintTimer"
            interval: 4000
            onTriggered: hexHint.visible = false
        }

        Veil {
            id: colourVeil
            objectName: "colourVeil"
            anchors.fill: parent
            displayMode: page.mode
        }
    }

    // ---- speed ---------------------------------------------------------------------

    Panel {
        id: speedPanel
        objectName: "speedPanel"
        x: 654
        y: 414
        width: 250
        height: 96
        displayMode: page.mode
        title: "Speed"
        titleY: 12

        SpeedSlider {
            id: speedSlider
            objectName: "speedSlider"
            x: 30
            y: 50
            displayMode: page.mode
            onValueChanged: page.speedMoved(value)
        }

        // Position 5 is the fastest: the ends say so.
        Model.MTextLeft {
            objectName: "speedSlow"
            x: speedSlider.x
            y: speedSlider.y + speedSlider.height + 1
            width: textWidth
            height: textHeight
            mText: "Slow"
            mtextSize: 12
            mcolor: Theme.colour("caption", page.mode)
            mfont: page.fontFile
        }

        Model.MTextLeft {
            objectName: "speedFast"
            x: speedSlider.x + speedSlider.trackLength - width
            y: speedSlider.y + speedSlider.height + 1
            width: textWidth
            height: textHeight
            mText: "Fast"
            mtextSize: 12
            mcolor: Theme.colour("caption", page.mode)
            mfont: page.fontFile
        }
    }

    readonly property color pickerColourValue: {
        var rgb = Colour.pickerColour(knobPos, cursorX, cursorY);
        return Qt.rgba(rgb.r / 255, rgb.g / 255, rgb.b / 255, 1);
    }
}
