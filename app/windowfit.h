#pragma once
// Keeps the window within its screen: the first size and the smallest size the
// scene asks for are cut down to the screen's free area (a 1366 x 768 laptop,
// or 1920 x 1080 at 150 %), and again when the window moves to another screen.
// The scene scales itself down to whatever is left.

#include <QObject>
#include <QSize>

class QScreen;
class QWindow;

class WindowFit : public QObject
{
    Q_OBJECT

public:
    explicit WindowFit(QWindow *window, QObject *parent = nullptr);

private:
    void fit(QScreen *screen);

    QWindow *window;
    QSize designSize;
    QSize designMinimum;
};
