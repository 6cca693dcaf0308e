#pragma once
// Tells the user what happened while the window is hidden, through the
// desktop's notification service (org.freedesktop.Notifications) on the bus
// it is given. Without a service nothing is shown and one line is logged.

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>

#include <functional>

class DesktopNotifier : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<qint64()>; // monotonic milliseconds

    // stateFile remembers, across starts, that the tray hint was shown.
    DesktopNotifier(const QDBusConnection &bus, QString stateFile, Clock clock = {},
                    QObject *parent = nullptr);

    // The one line for saved choices that did not reach the card.
    static QString choicesNotAppliedText(bool lighting, bool fan);

    // Clicking it opens the window.
    void choicesNotApplied(bool lighting, bool fan);
    // Once per installation: the window closed, the program stays.
    void closedToTray();

signals:
    void openWindowRequested();

private slots:
    void onActionInvoked(uint id, const QString &actionKey);

private:
    void notify(const QString &body, bool opensWindow, const std::function<void()> &onShown = {});

    QDBusConnection bus;
    QString stateFile;
    Clock now;
    QHash<QString, qint64> lastShown; // body -> when
    QHash<uint, bool> opensWindow;    // notification id -> click opens the window
    uint lastFailureId = 0;
    bool trayHintPending = false;
    bool serviceMissingLogged = false;
};
