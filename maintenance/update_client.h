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

// Fetches and parses the manifest; empty on any failure.
QMap<QString, QVariantList> check_NewVersionFromServer(const QString &url,
                                                       const TransferLimits &limits = {});

// Downloads url into savePath. True only when the whole body arrived and was
// written; otherwise false and no file is left behind.
bool downloadFileFromServer(const QString &url, const QString &savePath,
                            const ProgressFn &progress, const TransferLimits &limits = {});

// Letters, digits, dots, dashes and underscores only, so that it can become
// part of a file name without reaching outside its folder.
bool isPlainVersion(const QString &version);

// downloadDir + "/TARVELL_VORN_" + version + ".run"; empty when the version is
// not plain.
QString installerSavePath(const QString &downloadDir, const QString &version);

// The user's download folder, created when missing.
QString downloadFolder();

// Makes the file executable, starts it without a shell and waits until it
// ends. False when it could not be started.
bool runInstaller(const QString &path);

} // namespace maintenance
