#include "app/hiddenwindowtrim.h"

#include <QQmlEngine>
#include <QQuickWindow>
#include <QTimer>

#include <malloc.h>

namespace {
// The render thread lets go of the scene graph shortly after the hide;
// the heap is trimmed once that has happened.
constexpr int kTrimDelayMs = 500;
} // namespace

HiddenWindowTrim::HiddenWindowTrim(QQuickWindow *w, QObject *parent) : QObject(parent), window(w)
{
    if (!window)
        return;
    window->setPersistentSceneGraph(false);
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    window->setPersistentGraphics(false); // Qt 6's name: the context is no longer OpenGL's only
#else
    window->setPersistentOpenGLContext(false);
#endif
    connect(window, &QWindow::visibleChanged, this, &HiddenWindowTrim::onVisibleChanged);
    if (!window->isVisible())
        onVisibleChanged(false);
}

void HiddenWindowTrim::onVisibleChanged(bool visible)
{
    if (visible)
        return;
    window->releaseResources();
    QTimer::singleShot(kTrimDelayMs, this, &HiddenWindowTrim::trim);
}

void HiddenWindowTrim::trim()
{
    if (!window || window->isVisible())
        return;
    window->releaseResources();
    if (QQmlEngine *engine = qmlEngine(window)) {
        engine->collectGarbage();
        engine->trimComponentCache();
    }
    malloc_trim(0);
}
