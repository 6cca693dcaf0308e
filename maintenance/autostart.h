#pragma once
// Start with the desktop session: an XDG autostart entry named after the
// program's executable, $XDG_CONFIG_HOME/autostart/tarvell-vorn.desktop.

#include <QByteArray>
#include <QString>

namespace maintenance {

// One Exec argument, quoted and escaped so that a launcher reading the entry
// gets the path back unchanged (spaces, quotes, backslashes, '%', '$' ...).
QString desktopExecArgument(const QString &path);

// The whole entry for the program at exePath, under the menu entry's name and
// icon.
QByteArray autostartEntry(const QString &exePath);

// Writes or removes <configDir>/autostart/<appName>.desktop. False when the
// entry could not be written or removed.
bool writeAutoStart(const QString &configDir, const QString &appName, const QString &exePath,
                    bool enable);

// The same for this program, in the user's configuration folder, and
// whether its entry is there now.
void setAutoStart(bool enable);
bool autoStartEnabled();

} // namespace maintenance
