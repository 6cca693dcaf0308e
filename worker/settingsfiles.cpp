#include "worker/settingsfiles.h"

#include "maintenance/json_keys.h"
#include "mcu/fan_curve.h"
#include "worker/protocol.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>
#include <QRegularExpression>
#include <QSet>
#include <QTextStream>

#include <cmath>

namespace settingsfiles {

QString dataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/tarvell-vorn");
}

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
        {Key::ARGBSliderSpeed, Speed::kFastest},
        {Key::FanControlMode, QStringLiteral("GPU")},
        {Key::RGB, QStringLiteral("ON")},
        {Key::RGBControlMode, QStringLiteral("MCU")},
        {Key::ArgbEffect, int(Effect::kDefault)},
        {Key::BHex, QStringLiteral("00")},
        {Key::DisplayMode, 0},
        {Key::FanControlBtn, int(FanPreset::Default)},
        {Key::FanSpeed, 100},
        {Key::GHex, QStringLiteral("00")},
        {Key::RHex, QStringLiteral("fb")},
        {Key::ServerVersion, QString("")},
        {Key::Speed, Speed::byteOf(Speed::kFastest)},
    };
}

namespace {

// Replaces the file whole or not at all. QSaveFile commits even when its
// buffered write failed (a full disk), so the length and the flush are
// checked before the commit. Returns the reason of a failure, else empty.
QString saveWhole(const QString &path, const QByteArray &bytes, QIODevice::OpenMode mode)
{
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly | mode))
        return out.errorString();
    if (out.write(bytes) != bytes.size() || !out.flush()) {
        const QString reason = out.errorString();
        out.cancelWriting();
        return reason.isEmpty() ? QStringLiteral("write failed") : reason;
    }
    if (!out.commit())
        return out.errorString().isEmpty() ? QStringLiteral("commit failed") : out.errorString();
    return QString();
}

bool sameBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.size() == bytes.size() && file.open(QIODevice::ReadOnly)
        && file.readAll() == bytes;
}

// A settings file we cannot parse is still the user's: keep its bytes beside
// it, once per distinct content, before a save replaces it.
void keepUnparsableSettings(const QString &path, const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    QString target = path + QStringLiteral(".invalid");
    for (int n = 1; QFileInfo::exists(target); ++n) {
        if (sameBytes(target, bytes)) {
            qWarning() << "Unreadable settings already kept in" << target;
            return;
        }
        target = path + QStringLiteral(".invalid.") + QString::number(n);
    }
    const QString reason = saveWhole(target, bytes, {});
    if (reason.isEmpty())
        qWarning() << "Unreadable settings kept in" << target;
    else
        qWarning() << "Could not keep unreadable settings in" << target << reason;
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
    // Binary: the bytes kept from an unparsable file must be the user's own,
    // CR bytes included; JSON takes CR LF as white space.
    if (!file.open(QIODevice::ReadOnly)) {
        qCritical() << "Failed to open file for reading:" << file.errorString();
        return result;
    }
    const QByteArray bytes = file.readAll();
    if (!parseSettings(bytes, &result)) {
        qDebug() << "Invalid JSON format.";
        keepUnparsableSettings(path, bytes);
        return {};
    }
    return result;
}

bool parseSettings(const QByteArray &bytes, QVariantMap *settings)
{
    settings->clear();
    // A key named twice is a hand edit whose meaning nobody can tell; the
    // file is kept beside like any other we cannot read.
    if (maintenance::hasDuplicateKeys(bytes))
        return false;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || doc.isNull())
        return false;
    if (doc.isArray()) {
        const QJsonArray array = doc.array();
        for (const QJsonValue &element : array) {
            if (element.isObject())
                *settings = element.toObject().toVariantMap();
        }
    } else {
        *settings = doc.object().toVariantMap();
    }
    return true;
}

void writeSettings(const QVariantList &maps, const QString &path)
{
    QJsonArray array;
    for (const QVariant &map : maps)
        array.append(QJsonObject::fromVariantMap(map.toMap()));

    const QFileInfo info(path);
    if (info.exists() && !info.isWritable()) {
        qCritical() << "Failed to open file for writing:" << QStringLiteral("Permission denied");
        return;
    }
    const QString reason =
        saveWhole(path, QJsonDocument(array).toJson(QJsonDocument::Indented), QIODevice::Text);
    if (!reason.isEmpty())
        qCritical() << "Failed to open file for writing:" << reason
                    << "- the previous settings file is left as it was";
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

namespace settingsfiles {

namespace {

// The file is outside input: a number may be huge, fractional or not finite.
// The range is checked first, so nothing out of range is ever converted, and
// NaN fails every comparison.
bool isInteger(const QVariant &v, int low, int high)
{
    bool ok = false;
    double d = 0;
    if (v.userType() == QMetaType::QString)
        d = v.toString().toDouble(&ok);
    else if (v.canConvert<double>() && v.userType() != QMetaType::Bool)
        d = v.toDouble(&ok);
    return ok && d >= low && d <= high && std::trunc(d) == d;
}

bool isOneOf(const QVariant &v, const QStringList &texts)
{
    return v.userType() == QMetaType::QString && texts.contains(v.toString());
}

bool isHexByte(const QVariant &v)
{
    static const QRegularExpression twoDigits(QStringLiteral("^[0-9A-Fa-f]{2}$"));
    return v.userType() == QMetaType::QString && twoDigits.match(v.toString()).hasMatch();
}

bool isAcceptable(const QString &key, const QVariant &v)
{
    if (key == Key::ARGBSliderSpeed)
        return isInteger(v, Speed::kSlowest, Speed::kFastest);
    if (key == Key::FanControlMode)
        return isOneOf(v, {Value::Gpu, Value::Mcu, Value::Curve});
    if (key == Key::RGB)
        return isOneOf(v, {Value::On, Value::Off});
    if (key == Key::RGBControlMode)
        return isOneOf(v, {Value::Mcu, Value::Mb});
    if (key == Key::ArgbEffect)
        return isInteger(v, Effect::kFirst, Effect::kLast);
    if (key == Key::RHex || key == Key::GHex || key == Key::BHex)
        return isHexByte(v);
    if (key == Key::DisplayMode)
        return isInteger(v, 0, 1);
    if (key == Key::FanControlBtn)
        return isInteger(v, 0, FanPreset::kCount - 1);
    if (key == Key::FanSpeed)
        return isInteger(v, 0, 100);
    if (key == Key::Speed)
        return isOneOf(v, Speed::allBytes());
    return v.userType() == QMetaType::QString; // serverVersion, appVersion
}

} // namespace

QStringList repairSettings(QVariantMap &settings)
{
    QStringList repaired;
    QVariantMap defaults = defaultSettings();
    defaults.insert(Key::AppVersion, QVariant()); // absent by default
    for (auto it = defaults.cbegin(); it != defaults.cend(); ++it) {
        const QVariant value = settings.value(it.key());
        // Null and missing are what the program itself writes for a key it
        // never had; they match no mode and are left as they are, except a
        // missing duty under card fan control, which would stop the fan.
        bool bad = !value.isNull() && !isAcceptable(it.key(), value);
        if (it.key() == Key::FanSpeed && value.isNull()
            && settings.value(Key::FanControlMode).toString() == Value::Mcu)
            bad = true;
        if (!bad)
            continue;
        qWarning().noquote() << "Settings:" << it.key() << "holds"
                             << QJsonDocument(QJsonArray{QJsonValue::fromVariant(value)})
                                    .toJson(QJsonDocument::Compact)
                             << "which is out of range; using" << (it->isNull() ? QStringLiteral("nothing") : it->toString());
        if (it->isNull())
            settings.remove(it.key());
        else
            settings.insert(it.key(), *it);
        repaired << it.key();
    }
    // The curve is the user's own work: only a curve that could not run is
    // replaced, and one is supplied when the curve mode has none.
    const bool curveMode = settings.value(Key::FanControlMode).toString() == Value::Curve;
    if (settings.contains(Key::FanCurve) || curveMode) {
        const QVariant value = settings.value(Key::FanCurve);
        const QString problem = mcu::curveProblem(mcu::curveFromVariant(value));
        if (!problem.isEmpty() && (curveMode || !value.isNull())) {
            qWarning().noquote() << "Settings: fanCurve" << problem << "- using the default curve";
            settings.insert(Key::FanCurve, mcu::curveToVariant(mcu::defaultFanCurve()));
            repaired << QString(Key::FanCurve);
        }
    }
    // The SDK server's keys have no default to fall back on: without a
    // usable value the server is off, on its usual port. 6742 is OpenRGB's
    // own: OpenRGB would find us there instead of its own server.
    const auto optional = [&](const QString &key, bool acceptable) {
        if (!settings.contains(key) || acceptable)
            return;
        qWarning().noquote() << "Settings:" << key << "holds"
                             << QJsonDocument(QJsonArray{QJsonValue::fromVariant(settings.value(key))})
                                    .toJson(QJsonDocument::Compact)
                             << "which is not usable; left out";
        settings.remove(key);
        repaired << key;
    };
    optional(Key::OpenRgbServer, settings.value(Key::OpenRgbServer).userType() == QMetaType::Bool);
    const QVariant port = settings.value(Key::OpenRgbPort);
    optional(Key::OpenRgbPort, isInteger(port, 1024, 65535) && port.toInt() != 6742);
    return repaired;
}

int pollMarker(const QString &path)
{
    // Polled several times a second: a marker that went missing is reported
    // once and written again, not reported on every poll.
    static QSet<QString> reported;
    if (QFileInfo::exists(path)) {
        reported.remove(path);
        return readMarker(path);
    }
    QFile file(path);
    const bool written = file.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Truncate)
        && file.write("0") == 1 && file.flush();
    if (!reported.contains(path)) {
        reported.insert(path);
        if (written)
            qWarning() << "Show-window marker was missing and is written again:" << path;
        else
            qWarning() << "Show-window marker is missing and cannot be written:" << path
                       << file.errorString();
    }
    return written ? 0 : -1;
}

} // namespace settingsfiles
