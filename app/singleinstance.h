#pragma once
// The single-instance key, and the hand-over a second start performs.

#include <QSharedMemory>
#include <QString>

class SingleInstance
{
public:
    enum class Claim { Claimed, AlreadyRunning, Failed };

    // The key is the user's own: another user's instance never counts.
    explicit SingleInstance(const QString &key);
    // A key left behind by a crashed or killed instance is taken over rather
    // than honoured. Failed means the key could not be used at all (see
    // errorString()); the caller then runs without one.
    Claim claim();
    QString errorString() const { return memory.errorString(); }

private:
    QSharedMemory memory;
};

// Writes "1" into the show-window marker, retrying briefly while the file
// cannot be opened; gives up after about two seconds.
void handOverToRunningInstance(const QString &markerPath);
