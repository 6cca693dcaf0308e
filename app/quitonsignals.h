#pragma once
// Logout, `kill` and Ctrl+C end the program the way "Exit" does: the event
// loop quits and the normal teardown runs, so the worker stops, the instance
// key is released and no file is left half-written.

#include <QObject>

class QSocketNotifier;

class QuitOnSignals : public QObject
{
    Q_OBJECT

public:
    QuitOnSignals(); // SIGTERM, SIGINT and SIGHUP
    ~QuitOnSignals() override;
    QuitOnSignals(const QuitOnSignals &) = delete;
    QuitOnSignals &operator=(const QuitOnSignals &) = delete;

private:
    QSocketNotifier *notifier = nullptr; // child of this object
};
