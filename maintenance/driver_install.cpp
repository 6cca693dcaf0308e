#include "maintenance/driver_install.h"

#include <QDebug>
#include <QFileInfo>
#include <QProcess>

namespace maintenance {

Launcher detachedLauncher()
{
    return [](const QString &program, const QStringList &arguments) {
        return QProcess::startDetached(program, arguments);
    };
}

QString driverInstallerPath(const QString &infPath)
{
    return QFileInfo(infPath).absolutePath() + QStringLiteral("/install-tarvell-i2c.sh");
}

bool installDriverWithPnPUtil(const QString &infPath, const Launcher &launch)
{
    if (!QFileInfo::exists(infPath)) {
        qWarning().noquote() << "INF file does not exist:" << infPath;
        return false;
    }
    const QString installer = driverInstallerPath(infPath);
    if (!QFileInfo(installer).isFile()) {
        qWarning().noquote() << "Driver installer does not exist:" << installer;
        return false;
    }
    if (!launch(QStringLiteral("pkexec"), {installer})) {
        // Without pkexec nothing was started; saying otherwise would send the
        // user off to restart for an installation that never ran.
        qWarning().noquote() << "Cannot start pkexec for the driver installer:" << installer;
        return false;
    }
    return true;
}

} // namespace maintenance
