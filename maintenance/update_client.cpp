#include "maintenance/update_client.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <iostream>

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

QMap<QString, QVariantList> check_NewVersionFromServer(const QString &url,
                                                       const TransferLimits &limits)
{
    HttpStream stream("HttpClient", limits);
    if (!stream.isValid()) {
        std::cerr << "Failed to open internet session" << std::endl;
        return {};
    }
    if (!stream.open(url))
        return {};

    QByteArray body;
    char piece[kManifestPiece];
    for (;;) {
        const qint64 n = stream.read(piece, kManifestPiece);
        if (n < 0)
            return {}; // a cut-off manifest is no manifest
        if (n == 0)
            break;
        body.append(piece, int(n));
        if (body.size() > kManifestMaxBytes)
            return {};
    }
    return parseManifest(body);
}

bool downloadFileFromServer(const QString &url, const QString &savePath,
                            const ProgressFn &progress, const TransferLimits &limits)
{
    if (!isHttpUrl(url)) {
        std::cerr << "Download link refused, only http and https are followed: "
                  << url.toStdString() << std::endl;
        return false;
    }

    HttpStream data("WinINet Example", limits);
    if (!data.isValid()) {
        std::cerr << "InternetOpen failed. Error: " << data.errorCode() << std::endl;
        return false;
    }
    if (!data.open(url)) {
        std::cerr << "InternetOpenUrl failed. Error: " << data.errorCode() << " ("
                  << data.errorText().toStdString() << ")" << std::endl;
        return false;
    }
    // The size is asked of a second request whose body is never read; it is
    // closed at once so the server need not hold it open for the whole
    // download.
    qint64 contentLength = -1;
    {
        HttpStream size("WinINet Example", limits);
        if (!size.open(url)) {
            std::cerr << "InternetOpenUrl failed. Error: " << size.errorCode() << " ("
                      << size.errorText().toStdString() << ")" << std::endl;
            return false;
        }
        contentLength = size.contentLength();
    }
    if (contentLength < 0) {
        std::cerr << "HttpQueryInfo failed. Cannot determine file size. Downloading without progress.\n";
        contentLength = 0;
    }

    QFile file(savePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::cerr << "Failed to create file: " << savePath.toStdString() << std::endl;
        return false;
    }

    qint64 received = 0;
    bool progressShown = false;
    QString failure;
    char piece[kDownloadPiece];
    for (;;) {
        const qint64 n = data.read(piece, kDownloadPiece);
        if (n < 0) {
            failure = QStringLiteral("transfer broke off: ") + data.errorText();
            break;
        }
        if (n == 0)
            break;
        if (file.write(piece, n) != n) {
            failure = QStringLiteral("cannot write the file: ") + file.errorString();
            break;
        }
        received += n;
        if (contentLength != 0) {
            const qint64 percent = received * 100 / contentLength;
            std::cout << "\rDownloading: " << percent << "% completed..." << std::flush;
            progressShown = true;
            if (percent >= 1 && percent <= 100 && progress)
                progress(int(percent));
        }
    }
    if (failure.isEmpty() && contentLength != 0 && received != contentLength)
        failure = QStringLiteral("received %1 of %2 bytes").arg(received).arg(contentLength);
    if (failure.isEmpty() && !file.flush())
        failure = QStringLiteral("cannot write the file: ") + file.errorString();
    file.close();
    if (progressShown)
        std::cout << std::endl;

    if (!failure.isEmpty()) {
        // Never leave a truncated installer where it could be started.
        file.remove();
        std::cerr << "Download incomplete, " << failure.toStdString() << ": "
                  << savePath.toStdString() << std::endl;
        return false;
    }
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
    QFile installer(path);
    const QFileDevice::Permissions executable = QFileDevice::ExeOwner | QFileDevice::ExeUser;
    if (!installer.setPermissions(installer.permissions() | executable)) {
        qWarning().noquote() << "Cannot make the installer executable:" << path
                             << installer.errorString();
        return false;
    }
    QProcess process;
    process.setProgram(path);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    process.start();
    if (!process.waitForStarted(-1)) {
        qWarning().noquote() << "Cannot start the installer:" << path << process.errorString();
        return false;
    }
    process.waitForFinished(-1);
    qDebug().noquote() << "Installer ended with exit code" << process.exitCode();
    return true;
}

} // namespace maintenance
