import QtQuick 2.9
import QtTest 1.2
import "qrc:/components" as Model

// The four shared components: defaults, layout and rescaling. What they look
// like on screen is checked in tst_components_pixels.qml.
TestCase {
    id: test
    name: "Components"
    when: windowShown
    visible: true
    width: 400
    height: 600

    Model.MText {
        id: centred
        width: 300
        height: 100
        mText: "ab\nA much longer line"
        mtextSize: 20
    }

    Model.MTextLeft {
        id: hung
        y: 110
        width: 300
        height: 100
        mText: "ab\nA much longer line"
        mtextSize: 20
    }

    Model.Effect {
        id: effect
        y: 220
        bgColor: "#FFFFFF"
        iconSource: "qrc:/icon/effect/Static.svg"
        labelText: "Static"
    }

    Component {
        id: resizedScene
        Item {
            width: 100
            height: 100
            property alias resizer: resizer
            property alias child: child
            Model.AutoResize { id: resizer }
            Rectangle { id: child; x: 10; y: 10; width: 20; height: 20 }
        }
    }

    function test_textDefaults() {
        var plain = createTemporaryObject(Qt.createComponent("qrc:/components/MText.qml"), test);
        verify(plain !== null);
        compare(plain.width, 66);
        compare(plain.height, 19);
        compare(plain.mText, "RGB Effect");
        compare(plain.mtextSize, 16);
        compare(String(plain.mcolor), "#c1c7c9");
        compare(plain.mfont, "qrc:/font/Kanit-Regular.ttf");
        compare(plain.mfontBold, false);
        var left = createTemporaryObject(Qt.createComponent("qrc:/components/MTextLeft.qml"), test);
        verify(left !== null);
        compare(left.mfontItalic, false);
        compare(findChild(left, "label").wrapMode, Text.Wrap);
    }

    function test_textUsesLoadedFont() {
        var label = findChild(centred, "label");
        tryVerify(function() { return label.font.family.length > 0 && label.font.family.indexOf("Kanit") === 0; },
                  5000, "the Kanit font file is loaded and used, got " + label.font.family);
    }

    function test_mtextCentresTwoLineBlock() {
        var label = findChild(centred, "label");
        compare(label.lineCount, 2);
        compare(label.horizontalAlignment, Text.AlignLeft);
        fuzzyCompare(label.x + label.width / 2, centred.width / 2, 1);
        fuzzyCompare(label.y + label.height / 2, centred.height / 2, 1);
        verify(label.x > 20, "the block is centred, not at the left edge");
    }

    function test_mtextLeftHangsFromCorner() {
        var label = findChild(hung, "label");
        compare(label.lineCount, 2, "lines break only at the line break");
        compare(label.x, 0);
        compare(label.y, 0);
    }

    function test_effectLayers() {
        compare(effect.width, 106);
        compare(effect.height, 94);
        compare(effect.borderWidth, 1);
        compare(String(effect.borderColor), "#fbfbff");
        compare(effect.textColor, "#E2E2E2");
        var background = findChild(effect, "background");
        compare(String(background.color), "#ffffff");
        compare(background.opacity, 0.1);
        compare(background.radius, 4);
        var tint = findChild(effect, "tint");
        compare(tint.opacity, 1.0, "the icon is drawn fully opaque");
        compare(String(tint.color), "#ffffff");
        var icon = findChild(effect, "icon");
        compare(icon.width, 60);
        compare(icon.height, 55);
        compare(icon.y, 10);
        compare(icon.x, (106 - 60) / 2);
        tryCompare(icon, "status", Image.Ready);
        var caption = findChild(effect, "caption");
        compare(caption.y, 65);
        compare(caption.width, 88);
        compare(caption.opacity, 1.0);
        compare(caption.mtextSize, 14);
    }

    function test_autoResize_data() {
        return [
            { tag: "defaults", fixed: true, byX: true, x: 20, y: 15, w: 30, h: 30 },
            { tag: "free aspect", fixed: false, byX: true, x: 20, y: 15, w: 40, h: 30 },
            { tag: "by centre", fixed: true, byX: false, x: 25, y: 15, w: 30, h: 30 }
        ];
    }

    function test_autoResize(data) {
        var scene = createTemporaryObject(resizedScene, test);
        verify(scene !== null);
        scene.resizer.fixedAspectRatio = data.fixed;
        scene.resizer.accordingToX = data.byX;
        compare(scene.resizer.targetItem, scene, "the parent is the default target");
        scene.width = 200;
        scene.height = 150;
        compare(scene.child.x, data.x);
        compare(scene.child.y, data.y);
        compare(scene.child.width, data.w);
        compare(scene.child.height, data.h);
        // Always measured against the size it started with, not the last one.
        scene.width = 100;
        scene.height = 100;
        compare(scene.child.x, 10);
        compare(scene.child.y, 10);
        compare(scene.child.width, 20);
    }

    function test_autoResizeFromZeroSizeStaysFinite() {
        var scene = createTemporaryObject(resizedScene, test, { width: 0, height: 0 });
        verify(scene !== null);
        scene.width = 50;
        scene.height = 50;
        verify(isFinite(scene.child.x) && isFinite(scene.child.width), "no division by a zero size");
        compare(scene.child.width, 20);
    }
}
