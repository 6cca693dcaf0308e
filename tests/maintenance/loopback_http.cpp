#include "loopback_http.h"

#include <QMutexLocker>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

static bool sendAll(int fd, const char *data, qint64 size)
{
    for (ssize_t n = 0; size > 0; data += n, size -= n)
        if ((n = ::send(fd, data, size_t(size), MSG_NOSIGNAL)) <= 0)
            return false;
    return true;
}

LoopbackHttpServer::LoopbackHttpServer()
{
    listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listenFd < 0 || ::bind(listenFd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0
        || ::getsockname(listenFd, reinterpret_cast<sockaddr *>(&addr), &len) != 0 || ::listen(listenFd, 16) != 0) {
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

LoopbackHttpServer::~LoopbackHttpServer()
{
    stopping = true;
    if (acceptor.joinable())
        acceptor.join();
    for (std::thread &t : workers)
        t.join();
    if (listenFd >= 0)
        ::close(listenFd);
}

void LoopbackHttpServer::route(const QString &path, const QList<ScriptedResponse> &responses)
{
    QMutexLocker lock(&mutex);
    routes[path] = responses;
}

QString LoopbackHttpServer::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path);
}

bool LoopbackHttpServer::waitReadable(int fd) const
{
    pollfd p{fd, POLLIN, 0};
    while (!stopping) {
        const int r = ::poll(&p, 1, 50);
        if (r != 0)
            return r > 0;
    }
    return false;
}

void LoopbackHttpServer::serve(int fd)
{
    QByteArray head;
    while (!head.contains("\r\n\r\n")) {
        char buffer[4096];
        const ssize_t n = waitReadable(fd) ? ::recv(fd, buffer, sizeof buffer, 0) : 0;
        if (n <= 0)
            return;
        head.append(buffer, int(n));
    }
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    const QString path = requestLine.size() > 1 ? QString::fromLatin1(requestLine.at(1)) : QString();
    ScriptedResponse r;
    {
        QMutexLocker lock(&mutex);
        const QList<ScriptedResponse> script = routes.value(path);
        const int hit = hits[path]++;
        if (script.isEmpty())
            r.status = 404;
        else
            r = script.at(std::min(hit, int(script.size()) - 1));
    }
    const qint64 length = r.body.isEmpty() ? r.patternBytes : r.body.size();
    QByteArray header = "HTTP/1.1 " + QByteArray::number(r.status) + " Scripted\r\nConnection: close\r\n";
    if (r.announceLength)
        header += "Content-Length: " + QByteArray::number(r.announcedLength >= 0 ? r.announcedLength : length) + "\r\n";
    if (!r.location.isEmpty())
        header += "Location: " + r.location + "\r\n";
    header += "\r\n";
    if (!sendAll(fd, header.constData(), header.size()))
        return;
    const qint64 limit = r.dropAfter >= 0 ? std::min(length, r.dropAfter) : length;
    char chunk[65536];
    for (qint64 sent = 0; sent < limit && !stopping;) {
        if (r.dripMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(r.dripMs));
        const qint64 n = std::min<qint64>(r.dripMs > 0 ? 1 : qint64(sizeof chunk), limit - sent);
        for (qint64 i = 0; i < n; ++i)
            chunk[i] = r.body.isEmpty() ? char((sent + i) * 131 & 0xff) : r.body.at(int(sent + i));
        if (!sendAll(fd, chunk, n))
            return;
        sent += n;
    }
}
