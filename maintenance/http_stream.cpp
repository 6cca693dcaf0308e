#include "maintenance/http_stream.h"

#include <QUrl>

#include <curl/curl.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>

namespace maintenance {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kMaxRedirects = 10;
constexpr int kLogTextMax = 300;

#ifdef TARVELL_LOOPBACK_HTTP
constexpr bool kLoopbackHttp = true;
#else
constexpr bool kLoopbackHttp = false;
#endif

struct EasyDeleter {
    void operator()(CURL *h) const { curl_easy_cleanup(h); }
};
struct MultiDeleter {
    void operator()(CURLM *m) const { curl_multi_cleanup(m); }
};
struct ListDeleter {
    void operator()(curl_slist *l) const { curl_slist_free_all(l); }
};

void initialiseCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool isBlankHeaderLine(const char *data, size_t size)
{
    return (size == 2 && data[0] == '\r' && data[1] == '\n') || (size == 1 && data[0] == '\n');
}

// Literal loopback addresses only: a name could resolve anywhere.
bool isLoopbackHost(const QString &host)
{
    const QByteArray text = host.toLatin1();
    in_addr v4{};
    if (inet_pton(AF_INET, text.constData(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    return inet_pton(AF_INET6, text.constData(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

} // namespace

struct HttpStream::State {
    TransferLimits limits;
    std::unique_ptr<CURLM, MultiDeleter> multi;
    std::unique_ptr<CURL, EasyDeleter> easy;
    std::unique_ptr<curl_slist, ListDeleter> headers;
    QByteArray agent;
    QByteArray url;
    char curlError[CURL_ERROR_SIZE] = {};
    bool attached = false;
    bool opened = false;

    QByteArray pending; // body bytes received but not yet read
    qsizetype pendingOffset = 0;
    bool headersDone = false;
    bool finished = false;
    bool failed = false;
    int error = 0;
    Failure kind = Failure::None;
    QString reason;

    qint64 bytesSeen = 0; // headers and body, for the speed floor
    qint64 windowBytes = 0;
    Clock::time_point windowStart;
    Clock::time_point deadline = Clock::time_point::max();

    ~State() { detach(); }

    void detach()
    {
        if (attached)
            curl_multi_remove_handle(multi.get(), easy.get());
        attached = false;
    }

    void fail(int code, const QString &why, Failure what = Failure::Transport)
    {
        if (failed)
            return;
        failed = true;
        kind = what;
        finished = true;
        error = code;
        reason = why;
    }

    qsizetype buffered() const { return pending.size() - pendingOffset; }

    long responseCode() const
    {
        long status = 0;
        curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
        return status;
    }

    static size_t onHeader(char *data, size_t size, size_t count, void *user)
    {
        auto *s = static_cast<State *>(user);
        const size_t n = size * count;
        s->bytesSeen += qint64(n);
        if (isBlankHeaderLine(data, n) && s->responseCode() >= 200)
            s->headersDone = true;
        return n;
    }

    static size_t onBody(char *data, size_t size, size_t count, void *user)
    {
        auto *s = static_cast<State *>(user);
        const size_t n = size * count;
        s->bytesSeen += qint64(n);
        s->headersDone = true;
        if (s->pendingOffset > 0 && s->pendingOffset == s->pending.size()) {
            s->pending.clear();
            s->pendingOffset = 0;
        }
        s->pending.append(data, qsizetype(n));
        return n;
    }

    void collectResults()
    {
        int left = 0;
        while (CURLMsg *msg = curl_multi_info_read(multi.get(), &left)) {
            if (msg->msg != CURLMSG_DONE)
                continue;
            finished = true;
            const CURLcode rc = msg->data.result;
            if (rc != CURLE_OK) {
                const QString detail = curlError[0] ? QString::fromUtf8(curlError)
                                                    : QString::fromUtf8(curl_easy_strerror(rc));
                fail(int(rc), detail);
            }
        }
    }

    // False, with the reason, once the transfer has fallen below the speed
    // floor over a whole window or has run past its deadline.
    bool withinBounds(Clock::time_point now)
    {
        if (now >= deadline) {
            fail(int(CURLE_OPERATION_TIMEDOUT),
                 QStringLiteral("the server took longer than %1 s").arg(limits.deadlineMs / 1000.0),
                 Failure::TooSlow);
            return false;
        }
        const milliseconds window(limits.floorWindowMs);
        if (now - windowStart < window)
            return true;
        const qint64 got = bytesSeen - windowBytes;
        if (got * 1000 < qint64(limits.floorBytesPerSecond) * limits.floorWindowMs) {
            fail(int(CURLE_OPERATION_TIMEDOUT),
                 QStringLiteral("the server sent %1 bytes in %2 s, too slow to go on")
                     .arg(got)
                     .arg(limits.floorWindowMs / 1000.0),
                 Failure::TooSlow);
            return false;
        }
        windowStart = now;
        windowBytes = bytesSeen;
        return true;
    }

    template <class Ready>
    void pumpUntil(Ready ready)
    {
        while (!ready() && !finished) {
            int running = 0;
            const CURLMcode mc = curl_multi_perform(multi.get(), &running);
            if (mc != CURLM_OK) {
                fail(int(mc), QString::fromUtf8(curl_multi_strerror(mc)));
                return;
            }
            collectResults();
            if (ready() || finished)
                return;
            if (running == 0) {
                finished = true;
                return;
            }
            const auto now = Clock::now();
            if (!withinBounds(now))
                return;
            const auto next = std::min(deadline, windowStart + milliseconds(limits.floorWindowMs));
            const long long left = std::chrono::duration_cast<milliseconds>(next - now).count();
            curl_multi_poll(multi.get(), nullptr, 0, int(std::clamp<long long>(left, 1, 100)), nullptr);
        }
    }

    // One request to one address; true once its final headers are in.
    bool request(const QByteArray &address)
    {
        detach();
        pending.clear();
        pendingOffset = 0;
        headersDone = finished = false;
        curlError[0] = '\0';
        url = address;
        CURL *h = easy.get();
        curl_easy_setopt(h, CURLOPT_URL, url.constData());
        if (curl_multi_add_handle(multi.get(), h) != CURLM_OK) {
            fail(int(CURLE_FAILED_INIT), QStringLiteral("cannot start the request"));
            return false;
        }
        attached = true;
        pumpUntil([this] { return headersDone; });
        // A failure after the headers (the body broke off) is the reader's
        // to see: the request itself was answered.
        if (!headersDone) {
            fail(int(CURLE_GOT_NOTHING), QStringLiteral("no response"));
            return false;
        }
        return true;
    }

    // Always from the server, never from an intermediate cache.
    void setNoCacheHeaders()
    {
        curl_slist *list = nullptr;
        for (const char *line : {"Cache-Control: no-cache", "Pragma: no-cache"}) {
            curl_slist *next = curl_slist_append(list, line);
            if (!next)
                break;
            list = next;
        }
        headers.reset(list);
    }

    void configure()
    {
        setNoCacheHeaders();
        CURL *h = easy.get();
        curl_easy_setopt(h, CURLOPT_USERAGENT, agent.constData());
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
        curl_easy_setopt(h, CURLOPT_PROXY, ""); // direct connection
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, kLoopbackHttp ? "http,https" : "https");
        // Redirects are followed here, one checked hop at a time.
        curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(h, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2));
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, long(limits.connectTimeoutMs));
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, curlError);
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &State::onHeader);
        curl_easy_setopt(h, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &State::onBody);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
    }

    // The speed window and the overall deadline run from here.
    void startClock()
    {
        windowStart = Clock::now();
        if (limits.deadlineMs > 0)
            deadline = windowStart + milliseconds(limits.deadlineMs);
    }

    // Where a redirect of hop number `hop` leads; nothing when the response
    // is no redirect or the hops are used up.
    std::optional<QString> redirectTarget(int hop) const
    {
        if (responseCode() / 100 != 3 || hop >= kMaxRedirects)
            return std::nullopt;
        const char *next = nullptr;
        curl_easy_getinfo(easy.get(), CURLINFO_REDIRECT_URL, &next);
        if (!next)
            return std::nullopt;
        return QString::fromUtf8(next);
    }

    // Every hop is held to the same rule as the first address; true once a
    // 2xx response's headers are in.
    bool fetch(QString address)
    {
        for (int hop = 0;; ++hop) {
            if (!isPermittedUrl(address)) {
                fail(int(CURLE_UNSUPPORTED_PROTOCOL),
                     QStringLiteral("refused address, only https is followed: ") + loggable(address),
                     Failure::RefusedAddress);
                return false;
            }
            if (!request(address.toUtf8()))
                return false;
            if (const auto next = redirectTarget(hop)) {
                address = *next;
                continue;
            }
            const long status = responseCode();
            if (status < 200 || status > 299) {
                fail(int(status), QStringLiteral("HTTP status %1").arg(status), Failure::HttpStatus);
                return false;
            }
            return true;
        }
    }
};

HttpStream::HttpStream(const QByteArray &userAgent, const TransferLimits &limits)
    : d(std::make_unique<State>())
{
    initialiseCurlOnce();
    d->limits = limits;
    d->agent = userAgent;
    d->multi.reset(curl_multi_init());
    d->easy.reset(curl_easy_init());
    if (!isValid())
        d->fail(int(CURLE_FAILED_INIT), QStringLiteral("cannot set up the HTTP client"));
}

HttpStream::~HttpStream() = default;

bool HttpStream::isValid() const { return d->multi && d->easy; }

bool HttpStream::open(const QString &url)
{
    if (!isValid() || d->opened) {
        d->fail(int(CURLE_FAILED_INIT), QStringLiteral("no HTTP client for this request"));
        return false;
    }
    d->opened = true;
    d->configure();
    d->startClock();
    return d->fetch(url);
}

qint64 HttpStream::read(char *buffer, qint64 maxSize)
{
    if (!d->attached || maxSize <= 0)
        return -1;
    d->pumpUntil([this] { return d->buffered() > 0; });
    const qint64 n = std::min<qint64>(maxSize, d->buffered());
    if (n > 0) {
        std::memcpy(buffer, d->pending.constData() + d->pendingOffset, size_t(n));
        d->pendingOffset += n;
        return n;
    }
    return d->failed ? -1 : 0;
}

qint64 HttpStream::contentLength() const
{
    curl_off_t length = -1;
    if (!d->attached
        || curl_easy_getinfo(d->easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK)
        return -1;
    return length < 0 ? -1 : qint64(length);
}

HttpStream::Failure HttpStream::failure() const { return d->kind; }

int HttpStream::errorCode() const { return d->error; }

QString HttpStream::errorText() const { return d->reason; }

bool isPermittedUrl(const QString &url)
{
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid() || parsed.host().isEmpty())
        return false;
    const QString scheme = parsed.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return true;
    return kLoopbackHttp && scheme == QLatin1String("http") && isLoopbackHost(parsed.host());
}

QString loggable(const QString &text)
{
    QString out;
    for (const QChar c : text.left(kLogTextMax)) {
        const ushort u = c.unicode();
        const bool control = u < 0x20 || (u >= 0x7f && u < 0xa0);
        if (control || c.category() == QChar::Other_Format
            || c.category() == QChar::Separator_Line || c.category() == QChar::Separator_Paragraph)
            out += QStringLiteral("\\x%1").arg(u, u > 0xff ? 4 : 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    if (text.size() > kLogTextMax)
        out += QStringLiteral("...");
    return out;
}

} // namespace maintenance
