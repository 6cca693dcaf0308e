#pragma once
// The update manifest and the installer download.
//
// Installers are saved in the user's download folder as
// "TARVELL_VORN_<version>.run": a self-contained Linux installer that is made
// executable and started directly, the counterpart of a Windows setup .exe.

#include "maintenance/http_stream.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVariantList>

#include <functional>

namespace maintenance {

// Receives the download progress in percent, 1..100.
using ProgressFn = std::function<void(int percent)>;

// The built-in manifest location of this build.
QString manifestUrl();

// Every top-level array of a JSON object, by member name; an object element
// becomes a map, anything else its plain value. Empty for anything that is not
// a JSON object.
QMap<QString, QVariantList> parseManifest(const QByteArray &body);

// The manifest sits in the start-up sequence: whatever the server does, the
// fetch ends within this deadline so the saved lighting still reaches the card.
TransferLimits manifestLimits();

// Fetches and parses the manifest; empty on any failure.
QMap<QString, QVariantList> check_NewVersionFromServer(const QString &url,
                                                       const TransferLimits &limits = manifestLimits());

// Largest installer taken.
constexpr qint64 kInstallerCeiling = qint64(2) * 1024 * 1024 * 1024;

// 64 hexadecimal digits.
bool isSha256Text(const QString &text);

// Downloads url into savePath. The body goes to a new file of its own in the
// same folder and is renamed over savePath only once it is complete and, when
// sha256 is given, matches it; only then is it made executable. Refused up
// front: a link that is not https, a response without a length or beyond
// the ceiling, a file the folder has no room for. True only on success;
// otherwise false, nothing is left behind and failure (when given) holds
// what to tell the user. Progress stays below 100 until the file is in place.
bool downloadFileFromServer(const QString &url, const QString &savePath,
                            const ProgressFn &progress, const TransferLimits &limits = {},
                            const QString &sha256 = {}, QString *failure = nullptr);

// Letters, digits, dots, dashes and underscores only, so that it can become
// part of a file name without reaching outside its folder.
bool isPlainVersion(const QString &version);

// downloadDir + "/TARVELL_VORN_" + version + ".run"; empty when the version is
// not plain.
QString installerSavePath(const QString &downloadDir, const QString &version);

// The user's download folder, created when missing.
QString downloadFolder();

// Starts the downloaded (already executable) installer without a shell, in a
// session of its own, and waits until it ends or the program is ending; it
// never dies with the program. False when it could not be started.
bool runInstaller(const QString &path);

} // namespace maintenance
