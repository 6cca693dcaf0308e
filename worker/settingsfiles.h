#pragma once
// The three small files in the application-data folder: the settings
// (userData.json), the optional version file and the show-window marker.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

namespace settingsfiles {

// ~/.local/share/tarvell-vorn: named after the executable, whatever name
// the application shows the desktop.
QString dataFolder();

void createDirectory(const QString &path);

// Defaults when the file is missing; empty on any read or parse failure.
QVariantMap readSettings(const QString &path);

// The settings held in a file's bytes: the last object of an array, or the
// object itself. False when the bytes are no settings file.
bool parseSettings(const QByteArray &bytes, QVariantMap *settings);

// Written through a temporary file and renamed, so a crash mid-write never
// leaves a truncated file behind.
void writeSettings(const QVariantList &maps, const QString &path);

// 0, 1, or -1 when unreadable or anything else.
int readMarker(const QString &path);

void writeText(const QString &path, const QString &text);

// The program version: the version file's first line when the file exists,
// else settings "appVersion", else "25.04.00".
QString readVersion(const QString &versionFilePath, QVariantMap &settings);

QVariantMap defaultSettings();

// Replaces every value outside its key's range or type by the key's default
// and logs it; returns the keys replaced, so that the caller saves them back.
QStringList repairSettings(QVariantMap &settings);

// The marker as the worker polls it: one that went missing is written
// again with "0" and reported once.
int pollMarker(const QString &path);

} // namespace settingsfiles
