import QtQuick 2.9
import "../components" as Model
import "../logic/Theme.js" as Theme
import "Fan.js" as Fan

// The fan curve editor: fan duty (0..100 %) against temperature (20..100 degC),
// 2 to 8 points dragged with the mouse or, once focused, moved with the arrow
// keys (Shift: 5 at a time). Points keep their order and the curve never
// falls; below 30 % only at or below 50 degC. A marker shows the temperature
// and duty of the card right now. It covers its parent (the window's content)
// and takes every click while it is open.
FocusScope {
    id: editor
    objectName: "curveEditor"

    property int mode: 0
    property var points: []    // [[degC, %], ...] as being edited
    property real liveTemp: -1 // the hotter of GPU and VRAM now; below 0: unknown
    property int liveDuty: -1  // the duty the curve runs at now; -1: none
    property int current: 0    // the point the keys and "Remove point" act on

    signal saved(var points)
    signal cancelled()

    visible: false
    anchors.fill: parent

    readonly property color textColour: Theme.colour("text", mode)
    readonly property color captionColour: Theme.colour("caption", mode)
    readonly property string fontFile: "qrc:/font/Kanit-Regular.ttf"

    function open(curve) {
        points = Fan.copyCurve(curve);
        current = 0;
        visible = true;
        focusPoint(0);
    }

    function close() {
        visible = false;
    }

    function save() {
        close();
        saved(Fan.copyCurve(points));
    }

    function cancel() {
        close();
        cancelled();
    }

    function focusPoint(i) {
        current = i;
        var p = pointRepeater.itemAt(i);
        if (p)
            p.forceActiveFocus();
    }

    function movePoint(i, t, d) {
        var next = Fan.copyCurve(points);
        next[i] = Fan.constrain(points, i, t, d);
        points = next;
        current = i;
    }

    function addPoint() {
        var next = Fan.copyCurve(points);
        var at = Fan.addPoint(next);
        if (at < 0)
            return;
        points = next;
        focusPoint(at);
    }

    function removeCurrent() {
        var next = Fan.copyCurve(points);
        if (!Fan.removePoint(next, current))
            return;
        points = next;
        focusPoint(Math.min(current, points.length - 1));
    }

    function describePoint(i) {
        var p = points[i];
        return p ? "Point " + (i + 1) + " of " + points.length + ": " + p[0] + " \u00B0C, " + p[1] + " %" : "";
    }

    Keys.onEscapePressed: cancel()

    // Dims the window and keeps clicks and the wheel off what lies beneath.
    Rectangle {
        anchors.fill: parent
        color: Theme.colour("dimming", editor.mode)
        opacity: 0.5
        MouseArea {
            anchors.fill: parent
            hoverEnabled: true
            onWheel: wheel.accepted = true
        }
    }

    Rectangle {
        id: box
        objectName: "curveEditorBox"
        width: 640
        height: 470
        anchors.centerIn: parent
        radius: 8
        color: Theme.colour("dialogGround", editor.mode)
        border.color: Theme.colour("buttonBorder", editor.mode)
        border.width: 1

        Model.MTextLeft {
            x: 30; y: 18
            width: textWidth; height: textHeight
            mText: "Custom Fan Curve"; mtextSize: 20
            mcolor: Theme.colour("title", editor.mode); mfont: editor.fontFile
        }

        Model.MTextLeft {
            x: 30; y: 50
            width: textWidth; height: textHeight
            mText: "Drag a point, or Tab to it and move it with the arrow keys. Below " + Fan.QuietDuty
                   + " % only up to " + Fan.QuietUpTo + " \u00B0C."
            mtextSize: 12; mcolor: editor.captionColour; mfont: editor.fontFile
        }

        // ---- the graph ------------------------------------------------------------
        Item {
            id: plot
            objectName: "curvePlot"
            x: 80; y: 90
            width: 520; height: 250

            function px(t) { return (t - Fan.MinTemp) / (Fan.MaxTemp - Fan.MinTemp) * width; }
            function py(d) { return height - (d - Fan.MinDuty) / (Fan.MaxDuty - Fan.MinDuty) * height; }
            function tempAt(x) { return Fan.MinTemp + x / width * (Fan.MaxTemp - Fan.MinTemp); }
            function dutyAt(y) { return Fan.MinDuty + (height - y) / height * (Fan.MaxDuty - Fan.MinDuty); }

            // Where no curve may go: above 50 degC and below 30 %.
            Rectangle {
                x: plot.px(Fan.QuietUpTo); y: plot.py(Fan.QuietDuty)
                width: plot.width - x; height: plot.height - y
                color: Theme.colour("curveQuiet", editor.mode)
            }

            Repeater {
                model: (Fan.MaxTemp - Fan.MinTemp) / 10 + 1 // every 10 degC
                Item {
                    x: plot.px(Fan.MinTemp + index * 10)
                    Rectangle { width: 1; height: plot.height; color: Theme.colour("curveGrid", editor.mode) }
                    Text {
                        y: plot.height + 6; x: -width / 2
                        text: String(Fan.MinTemp + index * 10)
                        color: editor.captionColour; font.pixelSize: 12; font.family: "Kanit"
                    }
                }
            }
            Repeater {
                model: (Fan.MaxDuty - Fan.MinDuty) / 20 + 1 // every 20 %
                Item {
                    y: plot.py(Fan.MinDuty + index * 20)
                    Rectangle { width: plot.width; height: 1; color: Theme.colour("curveGrid", editor.mode) }
                    Text {
                        x: -width - 8; y: -height / 2
                        text: String(Fan.MinDuty + index * 20)
                        color: editor.captionColour; font.pixelSize: 12; font.family: "Kanit"
                    }
                }
            }
            Text {
                x: plot.width - width; y: plot.height + 24
                text: qsTr("Temperature (\u00B0C)")
                color: editor.captionColour; font.pixelSize: 12; font.family: "Kanit"
            }
            Text {
                x: -62; y: -24
                text: qsTr("Fan duty (%)")
                color: editor.captionColour; font.pixelSize: 12; font.family: "Kanit"
            }

            Canvas {
                id: line
                anchors.fill: parent
                property var drawn: editor.points
                property color stroke: Theme.colour("curveLine", editor.mode)
                onDrawnChanged: requestPaint()
                onStrokeChanged: requestPaint()
                onPaint: {
                    var ctx = getContext("2d");
                    ctx.reset();
                    var p = editor.points;
                    if (p.length === 0)
                        return;
                    ctx.strokeStyle = stroke;
                    ctx.lineWidth = 2;
                    ctx.beginPath();
                    ctx.moveTo(0, plot.py(p[0][1]));
                    for (var i = 0; i < p.length; ++i)
                        ctx.lineTo(plot.px(p[i][0]), plot.py(p[i][1]));
                    ctx.lineTo(plot.width, plot.py(p[p.length - 1][1]));
                    ctx.stroke();
                }
            }

            // The card right now.
            Item {
                objectName: "liveMarker"
                visible: editor.liveTemp >= Fan.MinTemp && editor.liveTemp <= Fan.MaxTemp
                x: plot.px(Math.max(Fan.MinTemp, Math.min(Fan.MaxTemp, editor.liveTemp)))
                Rectangle {
                    x: -1; width: 2; height: plot.height
                    color: Theme.colour("curveLive", editor.mode); opacity: 0.7
                }
                Rectangle {
                    visible: editor.liveDuty >= 0
                    x: -6; y: plot.py(editor.liveDuty) - 6
                    width: 12; height: 12; radius: 6
                    color: Theme.colour("curveLive", editor.mode)
                }
            }

            Repeater {
                id: pointRepeater
                model: editor.points.length
                Rectangle {
                    id: point
                    objectName: "curvePoint_" + index
                    readonly property var value: editor.points[index] || [Fan.MinTemp, 0]
                    x: plot.px(value[0]) - width / 2
                    y: plot.py(value[1]) - height / 2
                    width: 18; height: 18; radius: 9
                    // Focused: hollow and larger, apart from the orange marker of now.
                    color: activeFocus ? Theme.colour("dialogGround", editor.mode) : Theme.colour("curveLine", editor.mode)
                    border.width: activeFocus ? 4 : 2
                    border.color: activeFocus ? Theme.colour("curveLine", editor.mode) : editor.textColour
                    scale: activeFocus ? 1.25 : 1.0
                    activeFocusOnTab: true
                    onActiveFocusChanged: if (activeFocus) editor.current = index

                    Accessible.role: Accessible.Slider
                    Accessible.name: editor.describePoint(index)
                    Accessible.description: qsTr("Left and right change the temperature, up and down the duty")
                    Accessible.focusable: true

                    function step(event, dt, dd) {
                        var n = (event.modifiers & Qt.ShiftModifier) ? 5 : 1;
                        editor.movePoint(index, value[0] + dt * n, value[1] + dd * n);
                        event.accepted = true;
                    }
                    Keys.onLeftPressed: step(event, -1, 0)
                    Keys.onRightPressed: step(event, 1, 0)
                    Keys.onUpPressed: step(event, 0, 1)
                    Keys.onDownPressed: step(event, 0, -1)
                    Keys.onDeletePressed: editor.removeCurrent()

                    MouseArea {
                        anchors.fill: parent
                        anchors.margins: -6
                        preventStealing: true
                        cursorShape: Qt.SizeAllCursor
                        onPressed: point.forceActiveFocus()
                        onPositionChanged: {
                            var at = mapToItem(plot, mouse.x, mouse.y);
                            editor.movePoint(index, plot.tempAt(at.x), plot.dutyAt(at.y));
                        }
                    }
                }
            }
        }

        // ---- readouts ----------------------------------------------------------------
        Model.MTextLeft {
            objectName: "curvePointText"
            x: 30; y: 378
            width: textWidth; height: textHeight
            mText: editor.describePoint(editor.current)
            mtextSize: 14; mcolor: editor.textColour; mfont: editor.fontFile
        }
        Model.MTextLeft {
            objectName: "curveLiveText"
            x: 330; y: 378
            width: textWidth; height: textHeight
            mText: editor.liveTemp >= 0
                   ? "Now: " + Math.round(editor.liveTemp) + " \u00B0C" + (editor.liveDuty >= 0 ? " \u00B7 " + editor.liveDuty + " %" : "")
                   : "Now: no reading"
            mtextSize: 14; mcolor: Theme.colour("curveLive", editor.mode); mfont: editor.fontFile
        }

        Row {
            x: 30; y: 415
            spacing: 12
            CurveEditorButton {
                objectName: "curveAddButton"
                label: "Add point"; mode: editor.mode
                usable: editor.points.length < Fan.MaxPoints
                onClicked: editor.addPoint()
            }
            CurveEditorButton {
                objectName: "curveRemoveButton"
                label: "Remove point"; mode: editor.mode
                usable: editor.points.length > Fan.MinPoints
                onClicked: editor.removeCurrent()
            }
        }
        Row {
            anchors.right: parent.right; anchors.rightMargin: 30
            y: 415
            spacing: 12
            CurveEditorButton {
                objectName: "curveCancelButton"
                label: "Cancel"; mode: editor.mode
                onClicked: editor.cancel()
            }
            CurveEditorButton {
                objectName: "curveSaveButton"
                label: "Save"; mode: editor.mode; primary: true
                onClicked: editor.save()
            }
        }
    }
}
