#pragma once
// The single-instance key, and the hand-over a second start performs.

#include <QSharedMemory>
#include <QString>

class SingleInstance
{
public:
    explicit SingleInstance(const QString &key);
    // True when this process is now the one instance. A key left behind by a
    // crashed or killed instance is taken over rather than honoured.
    bool claim();

private:
    QSharedMemory memory;
};

// Writes "1" into the show-window marker, retrying briefly while the file
// cannot be opened; gives up after about two seconds.
void handOverToRunningInstance(const QString &markerPath);
