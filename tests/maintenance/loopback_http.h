#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the update tests, one scripted
// response per path, each request on its own thread.

#include "maintenance/http_stream.h"

#include <QCryptographicHash>
#include <QFile>
#include <QMap>
#include <QMutex>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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
    LoopbackHttpServer() : listenFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (listenFd < 0 || ::bind(listenFd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0
            || ::getsockname(listenFd, reinterpret_cast<sockaddr *>(&addr), &len) != 0 || ::listen(listenFd, 16)) {
            ::close(listenFd);
            listenFd = -1;
            return;
        }
        port = ntohs(addr.sin_port);
        acceptor = std::thread([this] {
            while (waitReadable(listenFd)) {
                const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
                QMutexLocker lock(&mutex);
                if (fd >= 0)
                    workers.emplace_back([this, fd] { serve(fd); ::close(fd); });
            }
        });
    }
    ~LoopbackHttpServer()
    {
        stopping = true;
        if (acceptor.joinable())
            acceptor.join();
        for (std::thread &t : workers)
            t.join();
        if (listenFd >= 0)
            ::close(listenFd);
    }

    bool isListening() const { return listenFd >= 0; }
    void route(const QString &path, const ScriptedResponse &response)
    {
        QMutexLocker lock(&mutex);
        routes[path] = response;
    }
    QString url(const QString &path) const { return QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path); }

private:
    bool waitReadable(int fd) const
    {
        pollfd p{fd, POLLIN, 0};
        for (int r = 0; !stopping;)
            if ((r = ::poll(&p, 1, 50)) != 0)
                return r > 0;
        return false;
    }

    static bool sendAll(int fd, const char *data, qint64 size)
    {
        for (ssize_t n = 0; size > 0; data += n, size -= n)
            if ((n = ::send(fd, data, size_t(size), MSG_NOSIGNAL)) <= 0)
                return false;
        return true;
    }

    void serve(int fd)
    {
        QByteArray head;
        for (char buffer[4096]; !head.contains("\r\n\r\n");) {
            const ssize_t n = waitReadable(fd) ? ::recv(fd, buffer, sizeof buffer, 0) : 0;
            if (n <= 0)
                return;
            head.append(buffer, int(n));
        }
        const QString path = QString::fromLatin1(head.left(head.indexOf("\r\n")).split(' ').value(1));
        ScriptedResponse r;
        {
            QMutexLocker lock(&mutex);
            r = routes.value(path, ScriptedResponse{404});
        }
        const qint64 length = r.body.isEmpty() ? r.patternBytes : r.body.size();
        QByteArray header = "HTTP/1.1 " + QByteArray::number(r.status) + " Scripted\r\nConnection: close\r\n";
        if (r.announceLength)
            header += "Content-Length: " + QByteArray::number(r.announcedLength >= 0 ? r.announcedLength : length)
                      + "\r\n";
        if (!r.location.isEmpty())
            header += "Location: " + r.location + "\r\n";
        header += "\r\n";
        if (!sendAll(fd, header.constData(), header.size()))
            return;
        const qint64 limit = r.dropAfter >= 0 ? std::min(length, r.dropAfter) : length;
        char chunk[65536];
        for (qint64 sent = 0, n = 0; sent < limit && !stopping; sent += n) {
            if (r.dripMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(r.dripMs));
            n = std::min<qint64>(r.dripMs > 0 ? 1 : qint64(sizeof chunk), limit - sent);
            for (qint64 i = 0; i < n; ++i)
                chunk[i] = r.body.isEmpty() ? char((sent + i) * 131 & 0xff) : r.body.at(int(sent + i));
            if (!sendAll(fd, chunk, n))
                return;
        }
    }

    int listenFd;
    quint16 port = 0;
    std::atomic<bool> stopping{false};
    std::thread acceptor;
    QMutex mutex;
    std::vector<std::thread> workers;
    QMap<QString, ScriptedResponse> routes;
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
