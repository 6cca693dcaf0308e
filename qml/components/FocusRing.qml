import QtQuick 2.9
import "../logic/Theme.js" as Theme

// The mark of the keyboard focus, drawn just outside the item it surrounds:
// a thick line in the theme's ring colour with a thin contrasting one inside,
// so it stands out from light and dark grounds alike.
Rectangle {
    id: ring
    property int mode: Theme.Dark
    anchors.fill: parent
    anchors.margins: -4
    color: "transparent"
    border.width: 2
    border.color: Theme.colour("focusRing", ring.mode)
    radius: 4

    Rectangle {
        anchors.fill: parent
        anchors.margins: 2
        color: "transparent"
        border.width: 1
        border.color: Theme.colour("focusRingInner", ring.mode)
        radius: Math.max(0, ring.radius - 2)
    }
}
