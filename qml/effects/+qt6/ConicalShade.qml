import Qt5Compat.GraphicalEffects

ConicalGradient {}
