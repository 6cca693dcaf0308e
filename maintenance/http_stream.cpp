#include "maintenance/http_stream.h"

#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>

namespace maintenance {
namespace {

using Clock = std::chrono::steady_clock;

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

bool isLocationHeader(const char *data, size_t size)
{
    static const char name[] = "location:";
    const size_t n = sizeof(name) - 1;
    return size >= n && qstrnicmp(data, name, uint(n)) == 0;
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

    QByteArray pending; // body bytes received but not yet read
    qsizetype pendingOffset = 0;
    bool sawLocation = false;
    bool headersDone = false;
    bool finished = false;
    bool failed = false;
    int error = 0;
    QString reason;
    Clock::time_point lastActivity;

    ~State()
    {
        if (attached)
            curl_multi_remove_handle(multi.get(), easy.get());
    }

    void fail(int code, const QString &why)
    {
        if (failed)
            return;
        failed = true;
        finished = true;
        error = code;
        reason = why;
    }

    qsizetype buffered() const { return pending.size() - pendingOffset; }

    static size_t onHeader(char *data, size_t size, size_t count, void *user)
    {
        auto *s = static_cast<State *>(user);
        const size_t n = size * count;
        s->lastActivity = Clock::now();
        if (isLocationHeader(data, n)) {
            s->sawLocation = true;
        } else if (isBlankHeaderLine(data, n)) {
            long status = 0;
            curl_easy_getinfo(s->easy.get(), CURLINFO_RESPONSE_CODE, &status);
            const bool interim = status < 200;
            const bool redirected = status / 100 == 3 && s->sawLocation;
            if (!interim && !redirected)
                s->headersDone = true;
            s->sawLocation = false;
        }
        return n;
    }

    static size_t onBody(char *data, size_t size, size_t count, void *user)
    {
        auto *s = static_cast<State *>(user);
        const size_t n = size * count;
        s->lastActivity = Clock::now();
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

    // Drives the transfer until ready() holds or the transfer is over. The
    // stall clock starts afresh with every call, so time the caller spends
    // elsewhere between calls never counts against the server.
    template <class Ready>
    void pumpUntil(Ready ready)
    {
        const Clock::time_point waitStart = Clock::now();
        const auto stall = std::chrono::milliseconds(limits.stallTimeoutMs);
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
            const Clock::time_point since = std::max(lastActivity, waitStart);
            const auto now = Clock::now();
            if (now - since >= stall) {
                fail(int(CURLE_OPERATION_TIMEDOUT),
                     QStringLiteral("no data from the server for %1 ms").arg(limits.stallTimeoutMs));
                return;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(since + stall - now);
            const int waitMs = int(std::clamp<long long>(left.count(), 1, 100));
            curl_multi_poll(multi.get(), nullptr, 0, waitMs, nullptr);
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
    if (!isValid()) {
        d->fail(int(CURLE_FAILED_INIT), QStringLiteral("no HTTP client"));
        return false;
    }
    if (d->attached) {
        d->fail(int(CURLE_FAILED_INIT), QStringLiteral("stream already opened"));
        return false;
    }
    if (!isHttpUrl(url)) {
        d->fail(int(CURLE_UNSUPPORTED_PROTOCOL), QStringLiteral("not an http or https URL"));
        return false;
    }

    CURL *h = d->easy.get();
    d->url = url.toUtf8();
    // Always from the server, never from an intermediate cache.
    curl_slist *list = nullptr;
    for (const char *line : {"Cache-Control: no-cache", "Pragma: no-cache"}) {
        curl_slist *next = curl_slist_append(list, line);
        if (!next)
            break;
        list = next;
    }
    d->headers.reset(list);

    curl_easy_setopt(h, CURLOPT_URL, d->url.constData());
    curl_easy_setopt(h, CURLOPT_USERAGENT, d->agent.constData());
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, d->headers.get());
    curl_easy_setopt(h, CURLOPT_PROXY, ""); // direct connection
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, long(d->limits.connectTimeoutMs));
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, d->curlError);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &State::onHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, d.get());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &State::onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, d.get());

    if (curl_multi_add_handle(d->multi.get(), h) != CURLM_OK) {
        d->fail(int(CURLE_FAILED_INIT), QStringLiteral("cannot start the request"));
        return false;
    }
    d->attached = true;
    d->lastActivity = Clock::now();
    d->pumpUntil([this] { return d->headersDone; });
    // A failure after the headers (the body broke off) is the reader's to
    // see; the request itself was answered.
    if (!d->headersDone) {
        d->fail(int(CURLE_GOT_NOTHING), QStringLiteral("no response"));
        return false;
    }
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299) {
        d->fail(int(status), QStringLiteral("HTTP status %1").arg(status));
        return false;
    }
    return true;
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

int HttpStream::errorCode() const { return d->error; }

QString HttpStream::errorText() const { return d->reason; }

bool isHttpUrl(const QString &url)
{
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    return parsed.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        && !parsed.host().isEmpty();
}

} // namespace maintenance
