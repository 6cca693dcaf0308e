import QtGraphicalEffects 1.0

// Qt 5's conical gradient. Qt 6 keeps it in Qt5Compat: +qt6/ConicalShade.qml.
ConicalGradient {}
