import QtQuick 2.9

// Placeholder until the setting page lands: the right size, every entry point
// main.qml calls, and nothing else.
Item {
    id: page
    required property var app
    width: 861
    height: 550

    function evaluateUpdateOffer(dict) {}
    function applyTheme() {}
}
