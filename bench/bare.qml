// The baseline window: a bare Qt Quick window of the program's size.
import QtQuick 2.9
import QtQuick.Window 2.2

Window {
    width: 1440
    height: 810
    visible: true
    title: "bare"
}
