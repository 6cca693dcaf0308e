#pragma once
// Reinstalling the card's I2C access: the package folder beside the program
// holds the module-load entry, the udev rule and the script that puts them in
// place; the script runs elevated through pkexec.
//
// pkexec refuses to serve a caller whose parent has died, and the scene ends
// the program as soon as the set-up is reported, so pkexec is started by a
// small keeper process of its own session that waits for it: the keeper lives
// as long as pkexec does, whatever happens to the program.

#include <QString>

namespace maintenance {

// The system's pkexec by absolute path; empty when there is none.
QString systemPkexec();

// The installer script inside the package folder of the descriptor.
QString driverInstallerPath(const QString &infPath);

// Runs the package's installer through pkexec and waits for its end (or for
// the program's end, which leaves it running). True when it ran and
// succeeded; false with a warning and, in failure, a sentence for the user
// when the package or pkexec is missing, pkexec cannot start, the user
// cancels or the installer fails.
bool installDriverWithPnPUtil(const QString &infPath, const QString &pkexec = systemPkexec(),
                              QString *failure = nullptr);

} // namespace maintenance
