#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the update tests, scripted per
// path (responses served in turn, the last one repeats), each request on its
// own thread.

#include "maintenance/http_stream.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <atomic>
#include <thread>
#include <vector>

struct ScriptedResponse {
    int status = 200;
    QByteArray body;
    qint64 patternBytes = 0;     // with no body: this many filler bytes
    bool announceLength = true;
    qint64 announcedLength = -1; // overrides the real length in Content-Length
    qint64 dropAfter = -1;       // close the connection after this many body bytes
    int dripMs = 0;              // send the body one byte at a time, this far apart
    QByteArray location;         // Location header for redirects
};

class LoopbackHttpServer {
public:
    LoopbackHttpServer();
    ~LoopbackHttpServer();

    bool isListening() const { return listenFd >= 0; }
    void route(const QString &path, const QList<ScriptedResponse> &responses);
    QString url(const QString &path) const;

private:
    void serve(int fd);
    bool waitReadable(int fd) const;

    int listenFd = -1;
    quint16 port = 0;
    std::atomic<bool> stopping{false};
    std::thread acceptor;
    mutable QMutex mutex;
    std::vector<std::thread> workers;
    QMap<QString, QList<ScriptedResponse>> routes;
    QMap<QString, int> hits;
};

// Bounds quick enough for tests: 1 KB/s over half a second, 1.5 s in all.
inline maintenance::TransferLimits quickLimits()
{
    maintenance::TransferLimits limits;
    limits.connectTimeoutMs = 2000;
    limits.floorWindowMs = 500;
    limits.deadlineMs = 1500;
    return limits;
}

inline QString sha(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
}

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QStringList readLines(const QString &path)
{
    return QString::fromUtf8(readAll(path)).split('\n', Qt::SkipEmptyParts);
}
