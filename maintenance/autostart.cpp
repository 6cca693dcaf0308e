#include "maintenance/autostart.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace maintenance {
namespace {

// The value escapes of a desktop entry string, applied after the Exec quoting.
QString escapeValue(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\': out += QLatin1String("\\\\"); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\t': out += QLatin1String("\\t"); break;
        case '\r': out += QLatin1String("\\r"); break;
        default: out += c;
        }
    }
    return out;
}

QString entryPath(const QString &configDir, const QString &appName)
{
    return configDir + QStringLiteral("/autostart/") + appName + QStringLiteral(".desktop");
}

QString userConfigDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

// The entry keeps the executable's name whatever name the application shows.
QString programName() { return QFileInfo(QCoreApplication::applicationFilePath()).fileName(); }

} // namespace

// The menu entry's name and icon, so the session's list of programs started
// at log-in shows the same program the menu does.
#ifndef TV_APP_ID
#error "TV_APP_ID must name the program's desktop id"
#endif
#ifndef TV_APP_NAME
#error "TV_APP_NAME must hold the program's display name"
#endif

QString desktopExecArgument(const QString &path)
{
    // Inside double quotes only '"', '`', '$' and '\' need a backslash; a
    // literal '%' is always doubled so it is not taken for a field code.
    QString quoted = QStringLiteral("\"");
    for (const QChar c : path) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$')
            || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        if (c == QLatin1Char('%'))
            quoted += QLatin1Char('%');
        quoted += c;
    }
    quoted += QLatin1Char('"');
    return escapeValue(quoted);
}

QByteArray autostartEntry(const QString &exePath)
{
    QString text;
    text += QStringLiteral("[Desktop Entry]\n");
    text += QStringLiteral("Type=Application\n");
    text += QStringLiteral("Name=" TV_APP_NAME "\n");
    text += QStringLiteral("Icon=" TV_APP_ID "\n");
    text += QStringLiteral("Exec=") + desktopExecArgument(exePath) + QLatin1Char('\n');
    text += QStringLiteral("Terminal=false\n");
    text += QStringLiteral("X-GNOME-Autostart-enabled=true\n");
    return text.toUtf8();
}

bool writeAutoStart(const QString &configDir, const QString &appName, const QString &exePath,
                    bool enable)
{
    const QString path = entryPath(configDir, appName);
    if (!enable) {
        qDebug().noquote() << "uncheck Start with Windows";
        return !QFile::exists(path) || QFile::remove(path);
    }
    qDebug().noquote() << "Start with Windows";
    if (!QDir().mkpath(configDir + QStringLiteral("/autostart")))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(autostartEntry(exePath));
    return file.commit();
}

void setAutoStart(bool enable)
{
    writeAutoStart(userConfigDir(), programName(), QCoreApplication::applicationFilePath(), enable);
}

bool autoStartEnabled() { return QFile::exists(entryPath(userConfigDir(), programName())); }

} // namespace maintenance
