#pragma once
// One HTTP(S) GET, read piece by piece the way the update code wants it:
// open() returns once the response headers are in, read() hands out body
// bytes. Always fetched from the server (no cache), straight to the host (no
// proxy), http and https only, and bounded by a connect and a stall limit so a
// dead or silent server cannot hold the caller for ever.

#include <QByteArray>
#include <QString>

#include <memory>

namespace maintenance {

struct TransferLimits {
    int connectTimeoutMs = 10000;
    // Longest wait for the next bytes once a request is under way.
    int stallTimeoutMs = 15000;
};

class HttpStream {
public:
    HttpStream(const QByteArray &userAgent, const TransferLimits &limits);
    ~HttpStream();
    HttpStream(const HttpStream &) = delete;
    HttpStream &operator=(const HttpStream &) = delete;

    // False when the client could not be set up at all.
    bool isValid() const;
    // Sends the request and waits for the final response's headers. False on
    // a transport failure and on any status other than 2xx.
    bool open(const QString &url);
    // Up to maxSize body bytes; 0 at the end of the body, -1 on failure.
    qint64 read(char *buffer, qint64 maxSize);
    // Announced body length, -1 when the response has none.
    qint64 contentLength() const;

    // The client's error code (or the HTTP status) and a readable reason.
    int errorCode() const;
    QString errorText() const;

private:
    struct State;
    std::unique_ptr<State> d;
};

// True for absolute http:// and https:// URLs with a host.
bool isHttpUrl(const QString &url);

} // namespace maintenance
