#include "loopback_http.h"

#include <QMutexLocker>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace {

int listenOnLoopback(quint16 *port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        ::close(fd);
        return -1;
    }
    *port = ntohs(addr.sin_port);
    return fd;
}

bool sendAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size_t(size), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

const char *reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 302: return "Found";
    case 404: return "Not Found";
    default: return "Status";
    }
}

} // namespace

LoopbackHttpServer::LoopbackHttpServer()
{
    listenFd = listenOnLoopback(&port);
    if (listenFd >= 0 && ::listen(listenFd, 16) != 0) {
        ::close(listenFd);
        listenFd = -1;
    }
    if (listenFd >= 0)
        acceptor = std::thread([this] { acceptLoop(); });
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

int LoopbackHttpServer::hits(const QString &path) const
{
    QMutexLocker lock(&mutex);
    return hitCount.value(path);
}

QStringList LoopbackHttpServer::requests() const
{
    QMutexLocker lock(&mutex);
    return heads;
}

bool LoopbackHttpServer::waitReadable(int fd) const
{
    pollfd p{fd, POLLIN, 0};
    while (!stopping) {
        const int r = ::poll(&p, 1, 50);
        if (r > 0)
            return true;
        if (r < 0)
            return false;
    }
    return false;
}

void LoopbackHttpServer::acceptLoop()
{
    while (waitReadable(listenFd)) {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        QMutexLocker lock(&mutex);
        workers.emplace_back([this, fd] {
            serve(fd);
            ::close(fd);
        });
    }
}

void LoopbackHttpServer::serve(int fd)
{
    QByteArray head;
    while (!head.contains("\r\n\r\n")) {
        if (!waitReadable(fd))
            return;
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return;
        head.append(buffer, int(n));
    }
    head.truncate(head.indexOf("\r\n\r\n"));
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    const QString path = requestLine.size() > 1 ? QString::fromLatin1(requestLine.at(1)) : QString();

    ScriptedResponse response;
    {
        QMutexLocker lock(&mutex);
        heads.append(QString::fromLatin1(head));
        const int hit = hitCount[path]++;
        const QList<ScriptedResponse> script = routes.value(path);
        if (script.isEmpty())
            response.status = 404;
        else
            response = script.at(std::min(hit, int(script.size()) - 1));
    }

    if (response.silent) {
        while (!stopping && waitReadable(fd)) {
            char sink[256];
            if (::recv(fd, sink, sizeof sink, 0) <= 0)
                return;
        }
        return;
    }

    const qint64 length = response.bodyLength();
    QByteArray header = "HTTP/1.1 " + QByteArray::number(response.status) + ' '
        + reasonPhrase(response.status) + "\r\nConnection: close\r\n";
    if (response.announceLength) {
        const qint64 announced = response.announcedLength >= 0 ? response.announcedLength : length;
        header += "Content-Length: " + QByteArray::number(announced) + "\r\n";
    }
    if (!response.location.isEmpty())
        header += "Location: " + response.location + "\r\n";
    header += "\r\n";
    if (!sendAll(fd, header.constData(), header.size()))
        return;

    qint64 limit = length;
    if (response.dropAfter >= 0)
        limit = std::min(limit, response.dropAfter);
    if (response.stallAfter >= 0)
        limit = std::min(limit, response.stallAfter);
    char chunk[65536];
    for (qint64 sent = 0; sent < limit && !stopping;) {
        if (response.dripMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(response.dripMs));
        const qint64 n = std::min<qint64>(response.dripMs > 0 ? 1 : qint64(sizeof chunk), limit - sent);
        if (!response.body.isEmpty()) {
            std::copy_n(response.body.constData() + sent, n, chunk);
        } else {
            for (qint64 i = 0; i < n; ++i)
                chunk[i] = patternByte(sent + i);
        }
        if (!sendAll(fd, chunk, n))
            return;
        sent += n;
    }
    if (response.stallAfter >= 0 && response.stallAfter < length) {
        while (!stopping && waitReadable(fd)) {
            char sink[256];
            if (::recv(fd, sink, sizeof sink, 0) <= 0)
                return;
        }
    }
}

quint16 closedLoopbackPort()
{
    quint16 port = 0;
    const int fd = listenOnLoopback(&port);
    if (fd < 0)
        return 0;
    ::close(fd);
    return port;
}
