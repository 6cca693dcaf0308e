#include "worker/settingsfiles.h"

#include "worker/protocol.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTextStream>

namespace settingsfiles {

void createDirectory(const QString &path)
{
    QDir dir(path);
    if (dir.exists()) {
        qDebug() << "Directory already exists: " << path;
        return;
    }
    if (dir.mkpath(QStringLiteral(".")))
        qDebug() << "Directory created: " << path;
    else
        qDebug() << "Failed to create directory: " << path;
}

QVariantMap defaultSettings()
{
    return {
        {Key::ARGBSliderSpeed, 5},
        {Key::FanControlMode, QStringLiteral("GPU")},
        {Key::RGB, QStringLiteral("ON")},
        {Key::RGBControlMode, QStringLiteral("MCU")},
        {Key::ArgbEffect, 5},
        {Key::BHex, QStringLiteral("00")},
        {Key::DisplayMode, 0},
        {Key::FanControlBtn, 0},
        {Key::FanSpeed, 100},
        {Key::GHex, QStringLiteral("00")},
        {Key::RHex, QStringLiteral("fb")},
        {Key::ServerVersion, QString("")},
        {Key::Speed, QStringLiteral("FE")},
    };
}

namespace {

// A settings file we cannot parse is still the user's: keep its bytes beside
// it under a name no earlier rescue used, before a save replaces it.
void keepUnparsableSettings(const QString &path, const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    QString target = path + QStringLiteral(".invalid");
    for (int n = 1; QFileInfo::exists(target); ++n)
        target = path + QStringLiteral(".invalid.") + QString::number(n);
    QSaveFile out(target);
    if (out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() && out.commit())
        qWarning() << "Unreadable settings kept in" << target;
    else
        qWarning() << "Could not keep unreadable settings in" << target << out.errorString();
}

} // namespace

QVariantMap readSettings(const QString &path)
{
    QVariantMap result;
    QFile file(path);
    if (!file.exists()) {
        qDebug() << "File does not exist: " << path;
        return defaultSettings();
    }
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qCritical() << "Failed to open file for reading:" << file.errorString();
        return result;
    }
    const QByteArray bytes = file.readAll();
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || doc.isNull()) {
        qDebug() << "Invalid JSON format.";
        keepUnparsableSettings(path, bytes);
        return result;
    }
    if (doc.isArray()) {
        const QJsonArray array = doc.array();
        for (const QJsonValue &element : array) {
            if (element.isObject())
                result = element.toObject().toVariantMap();
        }
    } else {
        result = doc.object().toVariantMap();
    }
    return result;
}

void writeSettings(const QVariantList &maps, const QString &path)
{
    QJsonArray array;
    for (const QVariant &map : maps)
        array.append(QJsonObject::fromVariantMap(map.toMap()));

    const QFileInfo info(path);
    QSaveFile file(path);
    if ((info.exists() && !info.isWritable())
        || !file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        qCritical() << "Failed to open file for writing:"
                    << (file.errorString().isEmpty() ? QStringLiteral("Permission denied")
                                                     : file.errorString());
        return;
    }
    file.write(QJsonDocument(array).toJson(QJsonDocument::Indented));
    if (!file.commit())
        qCritical() << "Failed to open file for writing:" << file.errorString();
}

int readMarker(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qWarning() << "errorString" << file.errorString();
        return -1;
    }
    QTextStream in(&file);
    const QString line = in.readLine().trimmed();
    if (line == QLatin1String("0"))
        return 0;
    if (line == QLatin1String("1"))
        return 1;
    return -1;
}

void writeText(const QString &path, const QString &text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Truncate)) {
        qWarning() << "errorString" << file.errorString();
        return;
    }
    QTextStream out(&file);
    out << text;
}

QString readVersion(const QString &versionFilePath, QVariantMap &settings)
{
    if (!QFileInfo::exists(versionFilePath)) {
        // Looked up through the non-const index on purpose: a missing key is
        // added with an empty value and saved as null, like every other lookup.
        QString version = settings[Key::AppVersion].toString();
        if (version.isEmpty())
            version = Value::DefaultAppVersion;
        return version;
    }
    QFile file(versionFilePath);
    QString version;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qDebug() << "Failed to read file:" << versionFilePath;
    } else {
        QTextStream in(&file);
        version = in.readLine();
    }
    qDebug() << "File exists. Content:" << version;
    return version;
}

} // namespace settingsfiles
