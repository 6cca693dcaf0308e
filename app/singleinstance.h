#pragma once
// The single-instance key, and the hand-over a second start performs.

#include <QString>

class SingleInstance
{
public:
    enum class Claim { Claimed, AlreadyRunning, Failed };

    // The key is a lock file in the user's runtime folder: it is this user's
    // alone, and the kernel lets go of it when the holder ends, even killed.
    explicit SingleInstance(const QString &key);
    ~SingleInstance();
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    // Failed means the key could not be used at all (see errorString()); the
    // caller then runs without one.
    Claim claim();
    QString errorString() const { return error; }

private:
    QString path;
    QString error;
    int fd = -1;
};

// Writes "1" into the show-window marker, retrying briefly while the file
// cannot be opened; gives up after about two seconds.
void handOverToRunningInstance(const QString &markerPath);
