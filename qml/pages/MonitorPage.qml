import QtQuick 2.9
import QtQuick.Window 2.2
import "../components" as Model
import "../logic/Theme.js" as Theme
import "Telemetry.js" as Telemetry
import "Fan.js" as Fan

// The Monitor page: system facts, live GPU readings with the high-temperature
// warnings, and the fan panel. Telemetry reaches it through applyTelemetry().
Item {
    id: page
    required property var app
    width: 844
    height: 560

    readonly property int mode: app.displayMode
    readonly property string fontFile: "qrc:/font/Kanit-Regular.ttf"
    readonly property color captionColour: Theme.colour("caption", mode)

    // Shown texts.
    property string adapterName: ""
    property string driverVersion: ""
    property string resizableBar: ""
    property string pcieInfo: ""
    property string cPU_Name: ""
    property string totalSysRAM: ""
    property string motherboardModel: ""
    property string gpuCurrentFrequency: ""
    property string gpuCurrentTemperature: ""
    property string vRAM_Temperature: ""
    property string gPU_Utilization: ""
    property int fanSpeed: 0
    property bool fanSpeedKnown: true
    property bool gpuTempWarning: false
    property bool vramTempWarning: false

    // Held, not shown.
    property string availableSysRAM: ""
    property string motherboardManufacturer: ""
    property string vendorID: ""
    property string deviceID: ""
    property string subSysID: ""
    property string subSysVendorID: ""
    property string revID: ""
    property int vRAM_Frequency: 0
    property int gPUOvervoltagePercentage: 0
    property int gPU_PowerPercentage: 0
    property int gPU_TemperaturePercentage: 0
    property int board_Power: 0
    property bool boardPowerKnown: true

    // Colour of the system facts and values: the theme's text colour after a
    // theme change, its value colour once telemetry has been drawn.
    property color valueColour: Theme.colour("value", mode)

    property bool applyUsable: false
    // The preset the card runs: the restored one, then each one the card took.
    // A failed "Apply" puts the selection back to it.
    property int presetInEffect: Fan.DefaultPreset
    property int presetPending: Fan.DefaultPreset
    // The user's curve: the stored one, then each one saved in the editor.
    property var customCurve: Fan.copyCurve(Fan.DefaultCurve)
    // What the curve runs at now, shown beside "Custom" while it runs.
    readonly property int curveDuty: presetInEffect === Fan.CustomPreset ? Fan.curveDutyOf(app.monitorInfoDict) : -1
    readonly property real hottestNow: Fan.hottestOf(app.monitorInfoDict)

    // ---- what the page offers the window -------------------------------------------

    // Esc reaches the window first: it asks here whether the editor is open.
    function curveEditorOpen() { return curveEditor.visible; }
    function cancelCurveEditor() { curveEditor.cancel(); }

    function applyTelemetry(dict, nameKey) {
        if (!Telemetry.checkCtlOk(dict))
            return;
        var updates = Telemetry.read(dict, nameKey);
        for (var i = 0; i < updates.length; ++i)
            page[updates[i].field] = updates[i].value;
        valueColour = Theme.colour("value", app.displayMode);
    }

    function restoreFan(userControlData) {
        applyUsable = false;
        applyButton.color = Theme.colour("applyButton", app.displayMode);
        customCurve = Fan.curveOf(userControlData);
        var preset = Fan.restoredPreset(userControlData);
        if (preset < 0)
            return;
        presetInEffect = preset;
        selectPreset(preset);
    }

    // True when the card took the preset. On failure the selection and the
    // keys of the outgoing dictionary return to the preset still in effect.
    function handleFanReply(data) {
        console.log(Fan.replyLine(data));
        if (Fan.succeeded(data)) {
            presetInEffect = presetPending;
            return true;
        }
        selectPreset(presetInEffect);
        var keys = Fan.clickKeys(presetInEffect);
        for (var key in keys)
            app.dictDataforWorker[key] = keys[key];
        return false;
    }

    function selectPreset(index) {
        app.fanControlBtn = index;
        if (index !== Fan.DefaultPreset)
            app.fanSpeedControl = String(Fan.duty(index));
        paintSelected(index);
    }

    function pageOpened() {
        paintPresetsUnselected();
        paintSelected(app.fanControlBtn);
    }

    function applyTheme() {
        paintPresetsUnselected();
        valueColour = Theme.colour("valueBeforeTelemetry", app.displayMode);
    }

    function paintPresetsUnselected() {
        var unselected = Theme.colour("fanPreset", app.displayMode);
        for (var i = 0; i < presetButtons.count; ++i)
            presetButtons.itemAt(i).color = unselected;
        applyButton.color = unselected;
    }

    // ---- fan panel -------------------------------------------------------------------

    function paintSelected(index) {
        var unselected = Theme.colour("fanPreset", app.displayMode);
        for (var i = 0; i < presetButtons.count; ++i)
            presetButtons.itemAt(i).color = i === index ? Theme.colour("fanPresetSelected", app.displayMode) : unselected;
    }

    // Nothing is sent: the choice waits for "Apply". "Custom" first opens the
    // curve editor; its "Save" makes the choice.
    function choosePreset(index) {
        if (index === Fan.CustomPreset) {
            curveEditor.open(customCurve);
            return;
        }
        selectPreset(index);
        var keys = Fan.clickKeys(index);
        for (var key in keys)
            app.dictDataforWorker[key] = keys[key];
        applyButton.color = Theme.colour("applyButton", app.displayMode);
        applyUsable = true;
    }

    function applyPreset() {
        applyButton.color = Theme.colour("applyButton", app.displayMode);
        applyUsable = false;
        // Handing the fan back to the GPU gets no answer: it counts as taken.
        presetPending = app.fanControlBtn;
        if (presetPending === Fan.DefaultPreset)
            presetInEffect = Fan.DefaultPreset;
        app.sendRequest(Fan.applyRequest(app.fanControlBtn, customCurve));
    }

    function curveSaved(points) {
        customCurve = points;
        selectPreset(Fan.CustomPreset);
        var keys = Fan.clickKeys(Fan.CustomPreset);
        for (var key in keys)
            app.dictDataforWorker[key] = keys[key];
        applyButton.color = Theme.colour("applyButton", app.displayMode);
        applyUsable = true;
    }

    // Fixed size: nothing to rescale, but the page keeps the resizer the
    // window's other fixed pages carry.
    Model.AutoResize {}

    // ---- title ---------------------------------------------------------------------

    Model.MTextLeft {
        id: title
        objectName: "adapterTitle"
        x: 0
        y: -10
        width: textWidth
        height: textHeight
        mText: page.adapterName
        mtextSize: 24
        mcolor: Theme.colour("title", page.mode)
        mfont: page.fontFile
    }

    // ---- first row: system facts ----------------------------------------------------

    Panel {
        id: systemPanel
        objectName: "systemPanel"
        x: 0
        y: 40
        width: 424
        height: 122
        displayMode: page.mode

        Column {
            x: 40
            y: 12
            spacing: 0
            Model.MTextLeft {
                width: textWidth; height: 20
                mText: "CPU"; mtextSize: 14; mcolor: page.captionColour; mfont: page.fontFile
            }
            Model.MTextLeft {
                objectName: "cpuName"
                width: textWidth; height: 30
                mText: page.cPU_Name; mtextSize: 15; mcolor: page.valueColour; mfont: page.fontFile
            }
            Model.MTextLeft {
                width: textWidth; height: 20
                mText: "Motherboard"; mtextSize: 14; mcolor: page.captionColour; mfont: page.fontFile
            }
            Model.MTextLeft {
                objectName: "motherboardModel"
                width: textWidth; height: 30
                mText: page.motherboardModel; mtextSize: 16; mcolor: page.valueColour; mfont: page.fontFile
            }
        }
    }

    Panel {
        id: factsPanel
        objectName: "factsPanel"
        x: systemPanel.x + systemPanel.width + 8
        y: 40
        width: 594
        height: 122
        displayMode: page.mode

        Row {
            anchors.centerIn: parent
            spacing: 20
            Repeater {
                model: [
                    { caption: "System Memory", name: "totalSysRAM" },
                    { caption: "Driver Version", name: "driverVersion" },
                    { caption: "Resizable Bar", name: "resizableBar" },
                    { caption: "PCIE", name: "pcieInfo" }
                ]
                Item {
                    width: 111
                    height: 50
                    Model.MText {
                        width: parent.width; height: 20
                        mText: modelData.caption; mtextSize: 14; mcolor: page.captionColour; mfont: page.fontFile
                    }
                    Model.MText {
                        objectName: "fact_" + modelData.name
                        y: 25
                        width: parent.width; height: 24
                        mText: page[modelData.name]; mtextSize: 16; mcolor: page.valueColour; mfont: page.fontFile
                    }
                }
            }
        }
    }

    // ---- second row: live readings ----------------------------------------------------

    Panel {
        id: readingsPanel
        objectName: "readingsPanel"
        x: 0
        y: systemPanel.y + systemPanel.height + 8
        width: 1030
        height: 184
        displayMode: page.mode

        Row {
            id: tiles
            anchors.horizontalCenter: parent.horizontalCenter
            y: 36
            spacing: 8

            ValueTile {
                id: clockTile
                objectName: "clockTile"
                caption: "GPU Clock Speed"; value: page.gpuCurrentFrequency; unit: "MHz"
                captionColour: page.captionColour; valueColour: page.valueColour
            }
            ValueTile {
                id: utilTile
                objectName: "utilisationTile"
                caption: "GPU Utilization"; value: page.gPU_Utilization; unit: "%"
                captionColour: page.captionColour; valueColour: page.valueColour
            }
            ValueTile {
                id: gpuTempTile
                objectName: "gpuTempTile"
                caption: "GPU Temp"; spokenCaption: "GPU temperature"; value: page.gpuCurrentTemperature; unit: "°C"
                warning: page.gpuTempWarning
                captionColour: page.captionColour; valueColour: page.valueColour
            }
            ValueTile {
                id: vramTempTile
                objectName: "vramTempTile"
                caption: "VRAM Temp"; spokenCaption: "VRAM temperature"; value: page.vRAM_Temperature; unit: "°C"
                warning: page.vramTempWarning
                captionColour: page.captionColour; valueColour: page.valueColour
            }
        }

        Repeater {
            model: 3
            Rectangle {
                x: tiles.x + (index + 1) * (185 + 8) - 4 - width / 2
                y: tiles.y
                width: 1
                height: 80
                color: Theme.colour("tileSeparator", page.mode)
            }
        }

        // Board power is read and held; its tile is kept but not shown.
        ValueTile {
            objectName: "boardPowerTile"
            visible: false
            caption: "Board Power"; value: page.boardPowerKnown ? String(page.board_Power) : Telemetry.NotAvailable; unit: "W"
            captionColour: page.captionColour; valueColour: page.valueColour
        }
    }

    // ---- third row: fan ------------------------------------------------------------------

    Panel {
        id: fanSpeedPanel
        objectName: "fanSpeedPanel"
        x: 0
        y: readingsPanel.y + readingsPanel.height + 8
        width: 260
        height: 199
        displayMode: page.mode

        ValueTile {
            objectName: "fanTile"
            padding: 0
            x: 40
            y: (parent.height - height) / 2
            caption: "GPU FAN Speed"; value: page.fanSpeedKnown ? String(page.fanSpeed) : Telemetry.NotAvailable; unit: "rpm"
            captionColour: page.captionColour; valueColour: page.valueColour
        }
    }

    Panel {
        id: fanControlPanel
        objectName: "fanControlPanel"
        x: 267
        y: fanSpeedPanel.y
        width: 760
        height: 199
        displayMode: page.mode

        Column {
            width: 640
            anchors.centerIn: parent
            spacing: 15

            Model.MTextLeft {
                width: textWidth; height: textHeight
                mText: "GPU FAN Speed Control"; mtextSize: 20; mcolor: page.captionColour; mfont: page.fontFile
            }

            Row {
                spacing: 10
                Repeater {
                    id: presetButtons
                    model: Fan.Presets
                    FanPresetButton {
                        objectName: "preset_" + index
                        width: modelData.width
                        radius: 15
                        label: Fan.presetLabel(index, page.curveDuty)
                        labelColour: Theme.colour("text", page.mode)
                        border.color: Theme.colour("buttonBorder", page.mode)
                        color: Theme.colour("fanPreset", page.mode)
                        choice: true
                        chosen: page.app.fanControlBtn === index
                        onClicked: page.choosePreset(index)
                        onArrow: presetButtons.itemAt(Math.max(0, Math.min(presetButtons.count - 1, index + step))).takeFocus()
                    }
                }
            }

            Model.MTextLeft {
                width: textWidth; height: textHeight
                mText: "Description : max speed, suitable for which condition"
                mtextSize: 14; mcolor: Theme.colour("fanDescription", page.mode); mfont: page.fontFile
            }

            FanPresetButton {
                id: applyButton
                objectName: "applyButton"
                width: 80
                radius: 4
                label: "Apply"
                usable: page.applyUsable
                labelColour: page.applyUsable ? Theme.colour("text", page.mode)
                                              : Theme.colour("applyLabelDimmed", page.mode)
                border.color: Theme.colour("buttonBorder", page.mode)
                color: Theme.colour("applyButton", page.mode)
                onEntered: color = Theme.colour("buttonHover", page.mode)
                onExited: color = Theme.colour("applyButton", page.mode)
                onClicked: page.applyPreset()
            }
        }
    }

    // Over the whole window, centred in it, so it fits whatever the window's size.
    CurveEditor {
        id: curveEditor
        parent: page.Window.contentItem
        mode: page.mode
        liveTemp: page.hottestNow
        liveDuty: page.curveDuty
        onSaved: page.curveSaved(points)
    }
}
