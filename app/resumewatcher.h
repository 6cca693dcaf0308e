#pragma once
// Tells when the machine has woken from suspend, from logind's
// PrepareForSleep signal on the system bus. The card's microcontroller may
// come back in its own default state, so the user's choices must be applied
// again. Without a system bus nothing is watched and nothing is emitted.

#include <QObject>

class ResumeWatcher : public QObject
{
    Q_OBJECT

public:
    explicit ResumeWatcher(QObject *parent = nullptr);
    bool isWatching() const { return watching; }

signals:
    void resumed();

private slots:
    void onPrepareForSleep(bool goingToSleep);

private:
    bool watching = false;
};
