.pragma library
// The two colour themes. Screens ask for a colour by role and theme number;
// nothing else in the scene spells out a theme colour.

var Dark = 0;
var Light = 1;

var Table = {
    text:                   ["#E2E2E2", "#585858"],
    caption:                ["#AEAEBD", "#727279"],
    value:                  ["#E2E2E2", "black"],
    valueBeforeTelemetry:   ["#E2E2E2", "#585858"],
    pageLabel:              ["#FFFFFF", "#000000"],
    title:                  ["#4B7AD6", "#4B7AD6"],
    frame:                  ["qrc:/icon/dark-frame.svg", "qrc:/icon/light frame.svg"],
    background:             ["qrc:/icon/dark monitor bg _ 0331.png", "qrc:/icon/light monitor bg _ 0331.png"],
    effectBackground:       ["#122143", "#E4E9F6"],
    effectBorder:           ["#FBFBFF", "#07076E"],
    effectIcon:             ["#E2E2E2", "#5875AF"],
    effectSelected:         ["#FFFFFF", "#004EFF"],
    effectHover:            ["#18409A", "#18409A"],
    switchTrack:            ["#313131", "#B9C2D2"],
    switchKnobOn:           ["#00FF29", "#00FF29"],
    switchKnobOff:          ["#747474", "#747474"],
    hexFieldBackground:     ["#04142E", "#D7E0F3"],
    sliderTrack:            ["#303134", "#B9C2D2"],
    sliderFill:             ["#1D428A", "#4B7AD6"],
    defaultModeButton:      ["#122143", "#D7DFF3"],
    defaultModeButtonLeft:  ["#122143", "#E2EBFF"],
    defaultModeButtonHover: ["#18405A", "#5F79B2"],
    veil:                   ["#122143", "#E2EBFF"],
    fanPreset:              ["#142A59", "#CDDEFF"],
    fanPresetSelected:      ["#1D428A", "#688BE8"],
    buttonBorder:           ["#65657E", "#DEDEDE"],
    buttonHover:            ["#1D428A", "#B1C3E6"],
    updateButton:           ["#122143", "#E8EFFF"],
    updateButtonLeft:       ["#122143", "#E4E9F6"],
    // The driver error dialog: its headline, and the solid ground under its
    // frame picture, which alone would let the page show through.
    dialogTitle:            ["#FFFFFF", "#000000"],
    dialogGround:           ["#0B1838", "#E4EAF7"],
    dialogWarning:          ["#FF6B6B", "#C62828"],
    // "Default Mode" text while the pointer is over it: the light theme's hover
    // blue is too dark for the grey text.
    defaultModeTextHover:   ["#E2E2E2", "#FFFFFF"],
    // The keyboard focus ring, and the thin line inside it that keeps it
    // visible on grounds of the other theme (the dark notice in the light theme).
    focusRing:              ["#FFD34D", "#0A3FB8"],
    focusRingInner:         ["#000000", "#FFFFFF"],
    downloadBackground:     ["#162955", "#E4EAF7"],
    downloadText:           ["#D9D9D9", "#585858"],
    loadingAnimation:       ["qrc:/icon/d_Tarvell Loading Anim_0409.gif", "qrc:/icon/l_Tarvell Loading Anim_0409.gif"],
    // The fan curve editor: the curve and its points, the grid, the marker of
    // the temperature and duty right now, and the quiet corner no curve may enter.
    curveLine:              ["#6B90D7", "#1D428A"],
    curveGrid:              ["#2A3B63", "#C9D3E8"],
    curveLive:              ["#FFB300", "#C43E00"],
    curveQuiet:             ["#3A1E2A", "#F6DADA"],
    curveSave:              ["#1D428A", "#1D428A"],
    curveSaveText:          ["#FFFFFF", "#FFFFFF"],
    // A label given no colour by whoever places it.
    label:                  ["#C1C7C9", "#C1C7C9"],
    // The thin border of "Default Mode", the Setting switches, the dialog
    // buttons and the failure notice: the same grey on either theme.
    outline:                ["#65657E", "#65657E"],
    // The page switch: its line, the marker of the open page, the update dot.
    pageSwitchLine:         ["#1D428A", "#1D428A"],
    pageMarker:             ["#6B90D7", "#6B90D7"],
    updateDot:              ["#FF0000", "#FF0000"],
    // The Monitor page: the lines between the readings, a reading past its
    // warning, the fan description and "Apply" (its label dimmed while there
    // is nothing to apply).
    tileSeparator:          ["#003394", "#003394"],
    warningValue:           ["#E91D1D", "#E91D1D"],
    fanDescription:         ["#7E7E91", "#7E7E91"],
    applyButton:            ["#152D5E", "#E8EFFF"],
    applyLabelDimmed:       ["#7E7E91", "#747484"],
    // The ARGB page's picker and slider: the cursor's and knob's rings, the
    // hex field's border (lighter under the pointer or with focus), its
    // selection, and the slider's handle.
    colourCursorBorder:     ["#D9D9D9", "#D9D9D9"],
    hueKnobBorder:          ["#FFFFFF", "#FFFFFF"],
    hexFieldBorder:         ["#474545", "#474545"],
    hexFieldBorderActive:   ["#808080", "#808080"],
    hexSelection:           ["#1D428A", "#1D428A"],
    hexSelectedText:        ["#FFFFFF", "#FFFFFF"],
    sliderHandle:           ["#D9D9D9", "#D9D9D9"],
    sliderHandleBorder:     ["#FFFFFF", "#FFFFFF"],
    // The Setting page: headings, the theme switch's two knobs, the knob of
    // the start-with-the-desktop switch while on, and the "Contact Us." link.
    settingHeading:         ["#FFFFFF", "#585858"],
    themeKnobLeft:          ["#142A59", "#B9C2D2"],
    themeKnobRight:         ["#313131", "#6B90D7"],
    autoStartKnobOn:        ["#6B90D7", "#6B90D7"],
    contactLink:            ["#FF0000", "#FF0000"],
    // Screens over the pages: the start-up cover, the dimming behind a notice
    // or the curve editor,
    // the notice itself, the close square and the flat dialog buttons (the
    // driver dialog's lights a little less under the pointer).
    loadingBackground:      ["#162955", "#162955"],
    dimming:                ["#000000", "#000000"],
    noticeGround:           ["#04142E", "#04142E"],
    noticeText:             ["#E2E2E2", "#E2E2E2"],
    closeButton:            ["#04142E", "#04142E"],
    dialogButton:           ["#152D5E", "#152D5E"],
    dialogButtonHover:      ["#1D428A", "#1D428A"],
    driverButtonHover:      ["#253D6E", "#253D6E"],
    dialogButtonText:       ["#E2E2E2", "#E2E2E2"],
    // The download screen's turning ring: its shade from start to end, and its dot.
    busyRingFrom:           ["#000000", "#000000"],
    busyRingTo:             ["#FFFFFF", "#FFFFFF"],
    busyRingDot:            ["#D9D9D9", "#D9D9D9"]
};

// The theme that is drawn: anything but a valid light theme is dark.
function shown(mode) {
    return Number(mode) === Light ? Light : Dark;
}

// The stored theme as the worker gets it back: its integer, not range-checked,
// so that what the user's settings file holds travels unchanged.
function stored(value) {
    var n = parseInt(String(value), 10);
    return isNaN(n) ? Dark : n;
}

function colour(role, mode) {
    var entry = Table[role];
    if (entry === undefined) {
        console.warn("unknown theme role", role);
        return "magenta";
    }
    return entry[shown(mode)];
}
