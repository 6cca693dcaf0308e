#pragma once
// Follows the machine into suspend and out again, through logind's
// PrepareForSleep signal on the system bus. Before the machine sleeps the
// program may have to hand the fan back to the GPU, so it holds a delay
// inhibitor for "sleep": logind waits until the inhibitor is released (or its
// delay runs out). After the resume the card's microcontroller may be back in
// its own default state, so the user's choices must be applied again. Without
// a system bus nothing is watched and nothing is emitted.

#include <QDBusUnixFileDescriptor>
#include <QObject>

class ResumeWatcher : public QObject
{
    Q_OBJECT

public:
    explicit ResumeWatcher(QObject *parent = nullptr);
    bool isWatching() const { return watching; }

signals:
    // The machine is about to sleep; call releaseInhibitor() once ready.
    void suspending();
    void resumed();

public slots:
    void releaseInhibitor();

private slots:
    void onPrepareForSleep(bool goingToSleep);

private:
    void takeInhibitor();

    bool watching = false;
    QDBusUnixFileDescriptor inhibitor;
};
