import QtQuick 2.9

// Placed as the first child of an item: once the item is complete, every later
// size change of it rescales its other children in proportion.
Item {
    id: root
    width: 0
    height: 0

    property Item targetItem: parent
    property bool fixedAspectRatio: true
    property bool accordingToX: true

    // Geometry recorded when complete; the ratios are always against these.
    property real recordedWidth: 0
    property real recordedHeight: 0
    property var recordedChildren: []
    property bool recorded: false

    function record() {
        if (!targetItem)
            return;
        recordedWidth = targetItem.width;
        recordedHeight = targetItem.height;
        var list = [];
        var kids = targetItem.children;
        for (var i = 0; i < kids.length; ++i) {
            var child = kids[i];
            if (child === root)
                continue;
            list.push({
                item: child,
                x: child.x,
                y: child.y,
                centreX: child.x + child.width / 2,
                centreY: child.y + child.height / 2,
                width: child.width,
                height: child.height
            });
        }
        recordedChildren = list;
        recorded = true;
    }

    function rescale() {
        // A target that was recorded with no size has nothing to scale against.
        if (!recorded || recordedWidth <= 0 || recordedHeight <= 0)
            return;
        var rx = targetItem.width / recordedWidth;
        var ry = targetItem.height / recordedHeight;
        var fixedRatio = Math.min(rx, ry);
        for (var i = 0; i < recordedChildren.length; ++i) {
            var r = recordedChildren[i];
            if (!r.item)
                continue;
            var w = fixedAspectRatio ? r.width * fixedRatio : r.width * rx;
            var h = fixedAspectRatio ? r.height * fixedRatio : r.height * ry;
            r.item.width = w;
            r.item.height = h;
            if (accordingToX) {
                r.item.x = r.x * rx;
                r.item.y = r.y * ry;
            } else {
                r.item.x = r.centreX * rx - w / 2;
                r.item.y = r.centreY * ry - h / 2;
            }
        }
    }

    Connections {
        target: root.targetItem
        enabled: root.recorded
        function onWidthChanged() { root.rescale() }
        function onHeightChanged() { root.rescale() }
    }

    Component.onCompleted: record()
}
