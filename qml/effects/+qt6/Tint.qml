import Qt5Compat.GraphicalEffects

ColorOverlay {}
