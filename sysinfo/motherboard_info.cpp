#include "sysinfo/motherboard_info.h"

#include <QFile>
#include <QFileInfo>

#include <ostream>

namespace sysinfo {

namespace {

enum class Read { Missing, Failed, Ok };

struct Property {
    Read state = Read::Missing;
    QString value;
};

Property readProperty(const QString &path)
{
    Property p;
    if (!QFileInfo::exists(path))
        return p;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        p.state = Read::Failed;
        return p;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        p.state = Read::Failed;
        return p;
    }
    p.state = Read::Ok;
    // The kernel ends each DMI string with a line feed; the firmware often pads
    // the string itself with blanks.
    p.value = QString::fromUtf8(bytes).trimmed();
    return p;
}

} // namespace

void GetMotherboardInfo(QVariantMap &facts, const QString &dmiDir, std::ostream &out,
                        std::ostream &err)
{
    if (!QFileInfo(dmiDir).isDir())
        return;
    const Property vendor = readProperty(dmiDir + QLatin1String("/board_vendor"));
    const Property name = readProperty(dmiDir + QLatin1String("/board_name"));
    if (vendor.state == Read::Failed || name.state == Read::Failed) {
        err << "Query for motherboard info failed." << std::endl;
        return;
    }
    if (vendor.state == Read::Missing && name.state == Read::Missing)
        return;
    out << "Motherboard Manufacturer: " << vendor.value.toStdString() << std::endl;
    facts.insert(QStringLiteral("MotherboardManufacturer"), vendor.value);
    facts.insert(QStringLiteral("MotherboardModel"), name.value);
}

} // namespace sysinfo
