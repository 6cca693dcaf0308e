import QtQuick 2.9

// Placeholder until the lighting page lands: the right size, every entry point
// main.qml calls, and nothing else.
Item {
    id: page
    required property var app
    width: 905
    height: 462

    function restoreLighting(userControlData) {}
    function restoreColour(userControlData) {}
    function applyTheme() {}
    function dropHexFocus() {}
}
