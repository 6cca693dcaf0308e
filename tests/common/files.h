#pragma once
// Whole-file reads and writes for the tests' made-up trees and fixtures.

#include <QDir>
#include <QFile>
#include <QFileInfo>

// Creates the folders on the way; the file ends up with exactly these permissions.
inline bool writeFile(const QString &path, const QByteArray &content,
                      QFileDevice::Permissions permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner)
{
    QFile f(path);
    return QDir().mkpath(QFileInfo(path).absolutePath()) && f.open(QIODevice::WriteOnly | QIODevice::Truncate)
           && f.write(content) == content.size() && f.setPermissions(permissions);
}

// Empty when the file cannot be read.
inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
