#pragma once
// Reinstalling the card's I2C access: the package folder beside the program
// holds the module-load entry, the udev rule and the script that puts them in
// place; the script is started elevated through pkexec and not waited for.

#include <QString>
#include <QStringList>

#include <functional>

namespace maintenance {

// Starts program with arguments, detached; false when it could not be started.
using Launcher = std::function<bool(const QString &program, const QStringList &arguments)>;

// QProcess::startDetached.
Launcher detachedLauncher();

// The installer script inside the package folder of the descriptor.
QString driverInstallerPath(const QString &infPath);

// False with a warning when the package is not there or the elevated
// installer cannot be started; true as soon as it has been started.
bool installDriverWithPnPUtil(const QString &infPath, const Launcher &launch = detachedLauncher());

} // namespace maintenance
