#pragma once
// One HTTPS GET, read piece by piece the way the update code wants it:
// open() returns once the final response's headers are in, read() hands out
// body bytes. Always fetched from the server (no cache), straight to the host
// (no proxy), with the peer's certificate verified. Every redirect is checked
// against the same rule as the first address, so a link can never be bent
// onto plain http. The transfer is bounded: a connect limit, a speed floor
// (a server dripping bytes is as good as dead) and an optional overall
// deadline.

#include <QByteArray>
#include <QString>

#include <memory>

namespace maintenance {

struct TransferLimits {
    int connectTimeoutMs = 10000;
    // The transfer fails when fewer than floorBytesPerSecond arrive, on
    // average, over a window this long.
    int floorWindowMs = 15000;
    int floorBytesPerSecond = 1024;
    // Whole transfer, headers and body; 0 for none.
    int deadlineMs = 0;
};

class HttpStream {
public:
    HttpStream(const QByteArray &userAgent, const TransferLimits &limits);
    ~HttpStream();
    HttpStream(const HttpStream &) = delete;
    HttpStream &operator=(const HttpStream &) = delete;

    // False when the client could not be set up at all.
    bool isValid() const;
    // Sends the request, follows permitted redirects and waits for the final
    // response's headers. False on a refused address, a transport failure and
    // on any status other than 2xx.
    bool open(const QString &url);
    // Up to maxSize body bytes; 0 at the end of the body, -1 on failure.
    qint64 read(char *buffer, qint64 maxSize);
    // Announced body length, -1 when the response has none.
    qint64 contentLength() const;

    enum class Failure { None, RefusedAddress, HttpStatus, TooSlow, Transport };
    Failure failure() const;
    // The client's error code (or the HTTP status) and a readable reason.
    int errorCode() const;
    QString errorText() const;

private:
    struct State;
    std::unique_ptr<State> d;
};

// Whether the program may fetch from url at all: absolute https with a host.
// A build whose update server is plain http on a loopback address (a test
// build) also takes plain http, to loopback addresses only.
bool isPermittedUrl(const QString &url);

// Text from a server or a manifest made safe for one log line: control
// characters (escape sequences, line breaks) become visible \xNN escapes, and
// overlong text is cut.
QString loggable(const QString &text);

} // namespace maintenance
