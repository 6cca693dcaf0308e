#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the update tests. Each request is
// served on its own thread, so a client may hold one response open while it
// asks again. Responses are scripted per path: served in turn, the last one
// repeats.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

struct ScriptedResponse {
    int status = 200;
    QByteArray body;        // used when not empty
    qint64 patternBytes = 0; // otherwise this many bytes of patternByte()
    bool announceLength = true;
    qint64 announcedLength = -1; // overrides the real length in Content-Length
    qint64 dropAfter = -1;       // close the connection after this many body bytes
    qint64 stallAfter = -1;      // stop sending, but keep the connection, after this many
    bool silent = false;         // read the request and never answer
    int dripMs = 0;              // send the body one byte at a time, this far apart
    QByteArray location;         // Location header for redirects

    qint64 bodyLength() const { return body.isEmpty() ? patternBytes : body.size(); }
};

// The byte at offset i of a pattern body; not periodic over 8192 bytes, so a
// lost or repeated piece shows.
inline char patternByte(qint64 i)
{
    return char((i * 131 + i / 8191 + (i >> 16)) & 0xff);
}

class LoopbackHttpServer {
public:
    LoopbackHttpServer();
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer &) = delete;
    LoopbackHttpServer &operator=(const LoopbackHttpServer &) = delete;

    bool isListening() const { return listenFd >= 0; }
    void route(const QString &path, const QList<ScriptedResponse> &responses);
    QString url(const QString &path) const;
    int hits(const QString &path) const;
    // Raw request heads (request line and headers), in arrival order.
    QStringList requests() const;

private:
    void acceptLoop();
    void serve(int fd);
    bool waitReadable(int fd) const;

    int listenFd = -1;
    quint16 port = 0;
    std::atomic<bool> stopping{false};
    std::thread acceptor;
    mutable QMutex mutex;
    std::vector<std::thread> workers;
    QMap<QString, QList<ScriptedResponse>> routes;
    QMap<QString, int> hitCount;
    QStringList heads;
};

// A loopback port on which nothing listens.
quint16 closedLoopbackPort();
