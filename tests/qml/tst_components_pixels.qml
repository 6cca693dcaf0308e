import QtQuick 2.9
import QtTest 1.2
import "qrc:/components" as Model

// What the text and effect components put on screen. Runs under an X server
// with OpenGL (files named *_pixels.qml), where tints are drawn and the window
// can be grabbed.
TestCase {
    id: test
    name: "ComponentPixels"
    when: windowShown
    visible: true
    width: 400
    height: 400

    Rectangle {
        id: centredBox
        width: 300
        height: 100
        color: "black"
        Model.MText {
            id: centred
            anchors.fill: parent
            mText: "ab\nA much longer line"
            mtextSize: 20
            mcolor: "white"
        }
    }

    Rectangle {
        id: leftBox
        y: 110
        width: 300
        height: 100
        color: "black"
        Model.MTextLeft {
            id: hung
            anchors.fill: parent
            mText: "ab\nA much longer line"
            mtextSize: 20
            mcolor: "white"
        }
    }

    Rectangle {
        id: effectBox
        y: 220
        width: 106
        height: 94
        color: "black"
        Model.Effect {
            id: effect
            bgColor: "#FFFFFF"
            iconSource: "qrc:/icon/effect/Static.svg"
            labelText: "Static"
        }
    }

    function grab(item) {
        var image = grabImage(item);
        verify(image.width > 0, "nothing could be grabbed: is there an X server?");
        return image;
    }

    // First and last column holding a bright pixel in rows [top, bottom).
    function inkColumns(image, top, bottom) {
        var first = -1, last = -1;
        for (var x = 0; x < image.width; ++x) {
            for (var y = Math.max(0, Math.floor(top)); y < Math.min(image.height, Math.ceil(bottom)); ++y) {
                if (image.red(x, y) > 128) {
                    if (first < 0)
                        first = x;
                    last = x;
                    break;
                }
            }
        }
        return { first: first, last: last };
    }

    function brightest(image, x0, y0, x1, y1) {
        var most = 0;
        for (var x = x0; x < x1; ++x)
            for (var y = y0; y < y1; ++y)
                most = Math.max(most, image.red(x, y), image.green(x, y), image.blue(x, y));
        return most;
    }

    function test_mtextBlockCentredLinesLeftAligned() {
        var label = findChild(centred, "label");
        var image = grab(centredBox);
        var firstLine = inkColumns(image, label.y, label.y + label.height / 2);
        var secondLine = inkColumns(image, label.y + label.height / 2, label.y + label.height);
        verify(firstLine.first > 20, "the block is centred, not at the left edge: " + firstLine.first);
        verify(Math.abs(firstLine.first - secondLine.first) <= 3,
               "both lines start at the block's left edge: " + firstLine.first + " / " + secondLine.first);
        verify(firstLine.last < secondLine.last - 40, "the short line stays short");
        fuzzyCompare((secondLine.first + secondLine.last) / 2, centredBox.width / 2, 4);
    }

    function test_mtextLeftAtTopLeft() {
        var label = findChild(hung, "label");
        var image = grab(leftBox);
        var firstLine = inkColumns(image, 0, label.height / 2);
        var secondLine = inkColumns(image, label.height / 2, label.height);
        verify(firstLine.first >= 0 && firstLine.first <= 3, "first line at the left edge: " + firstLine.first);
        verify(secondLine.first >= 0 && secondLine.first <= 3, "second line at the left edge: " + secondLine.first);
        compare(brightest(image, 0, Math.ceil(label.height) + 2, 300, 100), 0, "nothing below the block");
    }

    function test_effectFaintBackgroundOpaqueIconAndLabel() {
        var icon = findChild(effect, "icon");
        tryCompare(icon, "status", Image.Ready);
        var image = grab(effectBox);
        // Inside the border, away from icon and label: white at a tenth over black.
        var faint = image.red(4, 50);
        verify(faint >= 15 && faint <= 40, "background should be faint white, got " + faint);
        verify(brightest(image, 23, 10, 83, 65) >= 200, "the icon is drawn at full strength");
        verify(brightest(image, 9, 65, 97, 83) >= 200, "the label is drawn at full strength");
    }
}
