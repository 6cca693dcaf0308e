import QtQuick 2.9

// Placeholder until the monitor page lands: the right size, every entry point
// main.qml calls, and nothing else.
Item {
    id: page
    required property var app
    width: 844
    height: 560

    function restoreFan(userControlData) {}
    function applyTelemetry(dict, nameKey) {}
    function handleFanReply(data) {}
    function pageOpened() {}
    function applyTheme() {}
    function paintPresetsUnselected() {}
}
