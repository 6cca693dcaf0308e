import QtQuick 2.9
import QtQuick.Window 2.2

// A large picture that is decoded only while it can be seen: on a page
// nobody looks at, or in a window hidden in the tray (its `picturesShown`
// is false), it holds no pixels. Not cached, so letting go of it frees the
// memory at once.
Image {
    id: root

    property url picture

    source: root.visible && root.Window.window && root.Window.window.picturesShown ? root.picture : ""
    cache: false
}
