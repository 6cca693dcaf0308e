#include "maintenance/update_client.h"

#include "maintenance/json_keys.h"
#include "platform/unique_fd.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QCryptographicHash>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>

extern char **environ;

namespace maintenance {
namespace {

constexpr qint64 kManifestPiece = 1023;
constexpr qint64 kDownloadPiece = 8192;
// A manifest is a few hundred bytes; anything near this is not one, and
// holding it all in memory would only hurt.
constexpr qint64 kManifestMaxBytes = 4 * 1024 * 1024;
constexpr int kVersionMaxLength = 64;

} // namespace

QString manifestUrl()
{
    return QStringLiteral(TARVELL_UPDATE_BASE_URL) + QStringLiteral("/Tarvell/latest_version.json");
}

QMap<QString, QVariantList> parseManifest(const QByteArray &body)
{
    QMap<QString, QVariantList> result;
    if (hasDuplicateKeys(body)) {
        qWarning() << "Update manifest refused: an object in it names a key twice";
        return result;
    }
    const QJsonObject root = QJsonDocument::fromJson(body).object();
    for (auto it = root.constBegin(); it != root.constEnd(); ++it) {
        if (!it.value().isArray())
            continue;
        QVariantList elements;
        for (const QJsonValue &element : it.value().toArray()) {
            if (element.isObject())
                elements.append(QVariant(element.toObject().toVariantMap()));
            else
                elements.append(element.toVariant());
        }
        result.insert(it.key(), elements);
    }
    return result;
}

TransferLimits manifestLimits()
{
    TransferLimits limits;
    limits.deadlineMs = 20000;
    return limits;
}

QMap<QString, QVariantList> check_NewVersionFromServer(const QString &url,
                                                       const TransferLimits &limits)
{
    HttpStream stream("HttpClient", limits);
    if (!stream.isValid()) {
        std::cerr << "Failed to open internet session" << std::endl;
        return {};
    }
    if (!stream.open(url)) {
        qWarning().noquote() << "No update manifest:" << stream.errorText();
        return {};
    }

    QByteArray body;
    char piece[kManifestPiece];
    for (;;) {
        const qint64 n = stream.read(piece, kManifestPiece);
        if (n < 0) {
            qWarning().noquote() << "No update manifest:" << stream.errorText();
            return {}; // a cut-off manifest is no manifest
        }
        if (n == 0)
            break;
        body.append(piece, int(n));
        if (body.size() > kManifestMaxBytes)
            return {};
    }
    return parseManifest(body);
}

bool isSha256Text(const QString &text)
{
    static const QRegularExpression hex(QStringLiteral("\\A[0-9A-Fa-f]{64}\\z"));
    return hex.match(text).hasMatch();
}

namespace {

// Plain words for the user, by what the transfer reported.
QString transferFailure(const HttpStream &stream)
{
    switch (stream.failure()) {
    case HttpStream::Failure::RefusedAddress:
        return QStringLiteral("The download link was refused: it is not a secure (https) address.");
    case HttpStream::Failure::HttpStatus:
        return QStringLiteral("The update server could not provide the file (HTTP %1).").arg(stream.errorCode());
    case HttpStream::Failure::TooSlow:
        return QStringLiteral("The download was too slow and was stopped.");
    default:
        return QStringLiteral("The update server could not be reached.");
    }
}

bool writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

// A new file in the folder that nobody else can have prepared: created, never
// opened through an existing name or link.
int createPartFile(int dirFd, const QString &finalName, QByteArray *partName)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QByteArray name = "." + finalName.toUtf8() + ".part-"
            + QByteArray::number(QRandomGenerator::system()->generate64(), 16);
        const int fd = ::openat(dirFd, name.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            *partName = name;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

// Why a download stopped: a line for the log and a sentence for the user.
struct DownloadFault {
    QString forUser;
    std::string logLine;
};
using Fault = std::optional<DownloadFault>;

Fault fault(const QString &forUser, const std::string &logLine)
{
    return DownloadFault{forUser, logLine};
}

std::string errnoText() { return std::strerror(errno); }

QString cannotSave() { return QStringLiteral("The file could not be saved in the download folder."); }

bool report(const DownloadFault &fault, QString *failure)
{
    std::cerr << fault.logLine << std::endl;
    if (failure)
        *failure = fault.forUser;
    return false;
}

// Checked before anything is fetched.
Fault refusedRequest(const QString &url, const QString &sha256)
{
    if (!isPermittedUrl(url))
        return fault(QStringLiteral("The download link was refused: it is not a secure (https) address."),
                     "Download link refused, only https is followed: " + loggable(url).toStdString());
    if (!sha256.isEmpty() && !isSha256Text(sha256))
        return fault(QStringLiteral("The update's checksum is malformed, so it was not downloaded."),
                     "Download refused, the manifest's sha256 is not 64 hexadecimal digits: "
                         + loggable(sha256).toStdString());
    return std::nullopt;
}

// A body without a length could be endless: it would fill the disk before
// anything noticed.
Fault refusedLength(qint64 contentLength, const QString &url)
{
    if (contentLength <= 0)
        return fault(QStringLiteral("The update server did not say how large the file is, so it was not downloaded."),
                     "Download refused, the server sent no file size: " + loggable(url).toStdString());
    if (contentLength > kInstallerCeiling)
        return fault(QStringLiteral("The update file is too large (over 2 GiB), so it was not downloaded."),
                     "Download refused, " + std::to_string(contentLength) + " bytes is beyond the ceiling");
    return std::nullopt;
}

// The response is taken only with a length within the ceiling.
Fault openTransfer(HttpStream &data, const QString &url)
{
    if (!data.isValid())
        return fault(QStringLiteral("The download could not be started."),
                     "InternetOpen failed. Error: " + std::to_string(data.errorCode()));
    if (!data.open(url))
        return fault(transferFailure(data),
                     "InternetOpenUrl failed. Error: " + std::to_string(data.errorCode()) + " ("
                         + loggable(data.errorText()).toStdString() + ")");
    return refusedLength(data.contentLength(), url);
}

// Opens the folder of savePath into dirFd when it has room for needed bytes.
Fault openFolderWithRoom(const QString &savePath, qint64 needed, platform::UniqueFd *dirFd)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(savePath).absolutePath());
    dirFd->reset(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct statvfs space {};
    if (!dirFd->valid() || ::fstatvfs(dirFd->get(), &space) != 0)
        return fault(QStringLiteral("The download folder cannot be used."),
                     "Failed to create file: " + savePath.toStdString() + " (" + errnoText() + ")");
    const qint64 available = qint64(space.f_bavail) * qint64(space.f_frsize);
    if (available < needed)
        return fault(QStringLiteral("There is not enough free space in the download folder."),
                     "Download refused, " + std::to_string(needed) + " bytes needed, "
                         + std::to_string(available) + " free in " + folder.toStdString());
    return std::nullopt;
}

void reportProgress(qint64 received, qint64 contentLength, const ProgressFn &progress)
{
    const qint64 percent = received * 100 / contentLength;
    std::cout << "\rDownloading: " << percent << "% completed..." << std::flush;
    // 100 would close the download screen: it waits for the checks.
    if (percent >= 1 && progress)
        progress(int(std::min<qint64>(percent, 99)));
}

// The faults from here on are logged as "Download failed, <line>: <file>".
// Writes the body to fd and hashes it; exactly the announced length passes.
Fault receiveBody(HttpStream &data, int fd, qint64 contentLength, const ProgressFn &progress,
                  QCryptographicHash *hash)
{
    qint64 received = 0;
    char piece[kDownloadPiece];
    for (;;) {
        const qint64 n = data.read(piece, kDownloadPiece);
        if (n < 0)
            return fault(data.failure() == HttpStream::Failure::TooSlow
                             ? transferFailure(data)
                             : QStringLiteral("The download broke off before the end."),
                         "transfer broke off: " + loggable(data.errorText()).toStdString());
        if (n == 0)
            break;
        if (received + n > contentLength)
            return fault(QStringLiteral("The update server sent more than it announced, so the file was discarded."),
                         "the server sent more than the " + std::to_string(contentLength)
                             + " bytes it announced");
        if (!writeAll(fd, piece, n))
            return fault(cannotSave(), "cannot write the file: " + errnoText());
        hash->addData(QByteArray::fromRawData(piece, int(n)));
        received += n;
        reportProgress(received, contentLength, progress);
    }
    if (received != contentLength)
        return fault(QStringLiteral("The download broke off before the end."),
                     "received " + std::to_string(received) + " of " + std::to_string(contentLength)
                         + " bytes");
    return std::nullopt;
}

Fault digestMismatch(const QCryptographicHash &hash, const QString &sha256)
{
    const QByteArray digest = hash.result().toHex();
    if (sha256.isEmpty() || digest == sha256.toLatin1().toLower())
        return std::nullopt;
    return fault(QStringLiteral("The downloaded file failed its integrity check and was deleted."),
                 "its sha256 is " + digest.toStdString() + ", the manifest says "
                     + sha256.toLower().toStdString());
}

// Executable only once it is whole and verified; set on the open file, so no
// other file can take its place in between.
Fault makeExecutable(int fd)
{
    if (::fchmod(fd, 0700) != 0 || ::fsync(fd) != 0)
        return fault(cannotSave(), "cannot finish the file: " + errnoText());
    return std::nullopt;
}

// Closed whatever went before: a close that fails loses written data.
Fault closeFile(platform::UniqueFd *file)
{
    if (::close(file->release()) != 0)
        return fault(cannotSave(), "cannot write the file: " + errnoText());
    return std::nullopt;
}

// rename replaces whatever has the final name, a planted link included, and
// never writes through it.
Fault putInPlace(int dirFd, const QByteArray &partName, const QString &savePath)
{
    const QByteArray finalName = QFile::encodeName(QFileInfo(savePath).fileName());
    if (::renameat(dirFd, partName.constData(), dirFd, finalName.constData()) != 0)
        return fault(cannotSave(), "cannot put the file in place: " + errnoText());
    return std::nullopt;
}

// The body into a new part file of the folder, checked, then renamed over
// savePath; on any fault the part file is removed.
Fault saveBody(HttpStream &data, const QString &savePath, const ProgressFn &progress,
               const QString &sha256)
{
    const qint64 contentLength = data.contentLength();
    platform::UniqueFd dirFd;
    if (Fault noRoom = openFolderWithRoom(savePath, contentLength, &dirFd))
        return noRoom;
    QByteArray partName;
    platform::UniqueFd file(createPartFile(dirFd.get(), QFileInfo(savePath).fileName(), &partName));
    if (!file.valid())
        return fault(cannotSave(), "Failed to create file: " + savePath.toStdString() + " (" + errnoText() + ")");

    QCryptographicHash hash(QCryptographicHash::Sha256);
    Fault problem = receiveBody(data, file.get(), contentLength, progress, &hash);
    std::cout << std::endl;
    if (!problem)
        problem = digestMismatch(hash, sha256);
    if (!problem)
        problem = makeExecutable(file.get());
    const Fault closing = closeFile(&file);
    if (!problem)
        problem = closing;
    if (!problem)
        problem = putInPlace(dirFd.get(), partName, savePath);
    if (!problem)
        return std::nullopt;
    ::unlinkat(dirFd.get(), partName.constData(), 0);
    problem->logLine = "Download failed, " + problem->logLine + ": " + savePath.toStdString();
    return problem;
}

} // namespace

bool downloadFileFromServer(const QString &url, const QString &savePath,
                            const ProgressFn &progress, const TransferLimits &limits,
                            const QString &sha256, QString *failure)
{
    if (Fault refused = refusedRequest(url, sha256))
        return report(*refused, failure);
    HttpStream data("WinINet Example", limits);
    if (Fault unopened = openTransfer(data, url))
        return report(*unopened, failure);
    if (Fault unsaved = saveBody(data, savePath, progress, sha256))
        return report(*unsaved, failure);
    if (progress)
        progress(100);
    std::cout << "Download completed: " << savePath.toStdString() << std::endl;
    return true;
}

bool isPlainVersion(const QString &version)
{
    // \z, not $: a trailing line feed must not pass.
    static const QRegularExpression plain(QStringLiteral("\\A[A-Za-z0-9._-]+\\z"));
    return version.size() <= kVersionMaxLength && plain.match(version).hasMatch();
}

QString installerSavePath(const QString &downloadDir, const QString &version)
{
    if (!isPlainVersion(version))
        return {};
    return downloadDir + QStringLiteral("/TARVELL_VORN_") + version + QStringLiteral(".run");
}

QString downloadFolder()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (dir.isEmpty())
        dir = QDir::homePath();
    if (!QDir().mkpath(dir))
        qWarning().noquote() << "Cannot create the download folder:" << dir;
    return dir;
}

bool runInstaller(const QString &path)
{
    struct stat info {};
    const QByteArray file = QFile::encodeName(path);
    if (::lstat(file.constData(), &info) != 0 || !S_ISREG(info.st_mode) || !(info.st_mode & S_IXUSR)) {
        qWarning().noquote() << "Installer not started, it is not a verified download:" << path;
        return false;
    }
    // A session of its own: neither the program's end nor a signal to the
    // program's terminal takes the installer down half-way.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    char *argv[] = {const_cast<char *>(file.constData()), nullptr};
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, file.constData(), nullptr, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        qWarning().noquote() << "Cannot start the installer:" << path << std::strerror(rc);
        return false;
    }
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            qDebug().noquote() << "Installer ended with exit code"
                               << (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
            return true;
        }
        if (done < 0 && errno != EINTR)
            return true;
        QThread *self = QThread::currentThread();
        if (self && self->isInterruptionRequested()) {
            qDebug().noquote() << "The program ends; the installer goes on:" << path;
            return true;
        }
        QThread::msleep(100);
    }
}

} // namespace maintenance
