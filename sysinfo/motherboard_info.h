#pragma once
// The motherboard's maker and model from the firmware's DMI tables, as the
// kernel exposes them under /sys/class/dmi/id.

#include <QString>
#include <QVariantMap>

#include <iosfwd>

namespace sysinfo {

// Writes "MotherboardManufacturer" (board_vendor) and "MotherboardModel"
// (board_name) and prints the manufacturer to out. No DMI folder, or a folder
// that names no board, leaves both keys untouched and prints nothing; a board
// file that exists but cannot be read prints the query failure text to err and
// writes nothing.
void GetMotherboardInfo(QVariantMap &facts, const QString &dmiDir, std::ostream &out,
                        std::ostream &err);

} // namespace sysinfo
