import QtGraphicalEffects 1.0

// Qt 5's colour overlay. Qt 6 keeps it in Qt5Compat: +qt6/Tint.qml.
ColorOverlay {}
