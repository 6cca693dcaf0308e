#include "app/windowfit.h"

#include <QScreen>
#include <QWindow>

#include <cstdio>

WindowFit::WindowFit(QWindow *w, QObject *parent)
    : QObject(parent), window(w), designSize(w ? w->size() : QSize()),
      designMinimum(w ? w->minimumSize() : QSize())
{
    if (!window)
        return;
    connect(window, &QWindow::screenChanged, this, &WindowFit::fit);
    fit(window->screen());
}

void WindowFit::fit(QScreen *screen)
{
    if (!screen)
        return;
    const QSize room = screen->availableGeometry().size();
    window->setMinimumSize(designMinimum.boundedTo(room));
    window->resize(designSize.boundedTo(room));
    std::printf("Window %dx%d on a free area of %dx%d (device pixel ratio %g)\n", window->width(),
                window->height(), room.width(), room.height(), screen->devicePixelRatio());
}
