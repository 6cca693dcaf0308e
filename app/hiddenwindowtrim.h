#pragma once
// A window hidden in the tray needs no scene graph. When it hides, its
// textures, glyph caches and rendering context are let go and the freed heap
// is handed back to the system; showing it again builds them anew.

#include <QObject>
#include <QPointer>

class QQuickWindow;

class HiddenWindowTrim : public QObject
{
    Q_OBJECT

public:
    explicit HiddenWindowTrim(QQuickWindow *window, QObject *parent = nullptr);

private:
    void onVisibleChanged(bool visible);
    void trim();

    QPointer<QQuickWindow> window;
};
