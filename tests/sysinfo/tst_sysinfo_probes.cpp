// CPU, memory and motherboard probes against made-up /proc and DMI trees.
#include "sysinfo/cpu_info.h"
#include "sysinfo/memory_info.h"
#include "sysinfo/motherboard_info.h"
#include "tests/common/files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sstream>

namespace {

// A null content makes no file; "DIR" makes a folder of that name, which
// cannot be read as a file.
void place(const QString &path, const QByteArray &content)
{
    if (content == "DIR")
        QVERIFY(QDir().mkpath(path));
    else if (!content.isNull())
        QVERIFY(writeFile(path, content));
}

// The 48 brand bytes as CPUID hands them over: text, NUL padding, terminator.
QByteArray brandBytes(const QByteArray &text)
{
    return text.isNull() ? QByteArray() : text.left(48) + QByteArray(49 - qMin(48, text.size()), '\0');
}

} // namespace

class TestSysinfoProbes : public QObject {
    Q_OBJECT

private slots:
    void cpuName()
    {
        const QByteArray cpuinfo = "processor\t: 0\nvendor_id\t: GenuineIntel\n"
                                   "model name\t: Intel(R) Core(TM) i5-8400 CPU @ 2.80GHz\nflags\t\t: fpu\n\n"
                                   "processor\t: 1\nmodel name\t: Something Else\n";
        const struct {
            QByteArray brand, cpuinfo;
            QString name;
        } rows[] = {
            {"Intel(R) Core(TM) i7-9700K CPU @ 3.60GHz", cpuinfo, "Intel(R) Core(TM) i7-9700K"},
            {"AMD Ryzen 7 7800X3D 8-Core Processor    ", {}, "AMD Ryzen 7 7800X3D 8-Core Processor    "},
            {"        Intel(R) Xeon(R) CPU E5-2690 0 @ 2.90GHz", {}, "Intel(R) Xeon(R)"},
            {"Virtual cpu model", {}, "Virtual cpu model"},
            {QByteArray("Foo Processor\0CPU", 17), {}, "Foo Processor"},
            // No brand, or one of blanks: the kernel's first model name.
            {{}, cpuinfo, "Intel(R) Core(TM) i5-8400"},
            {"                ", cpuinfo, "Intel(R) Core(TM) i5-8400"},
            {{}, {}, ""},
            {{}, "processor\t: 0\nHardware\t: BCM2835\n", ""},
        };
        for (const auto &row : rows) {
            QTemporaryDir proc;
            place(proc.filePath("cpuinfo"), row.cpuinfo);
            QCOMPARE(sysinfo::GetCPUInfo(brandBytes(row.brand), proc.path()), row.name);
        }
        QCOMPARE(sysinfo::cpuNameFromBrand(brandBytes("CPU X")), QString());
    }

    void memory()
    {
        // An empty total: the query fails and the earlier values stay.
        const struct {
            QByteArray meminfo;
            QString total, available;
        } rows[] = {
            {"MemTotal:       16777216 kB\nMemFree: 1234 kB\nMemAvailable:    8388608 kB\n", "16 GB", "8 GB"},
            {"MemTotal: 16777217 kB\nMemAvailable: 8388609 kB\nBuffers: 100 kB\n", "17 GB", "9 GB"},
            {"MemTotal: 33453480 kB\nMemAvailable: 1 kB\n", "32 GB", "1 GB"},
            {{}, "", ""},
            {"MemTotal: 1024 kB\nMemFree: 12 kB\n", "", ""},
            {"MemAvailable: 1024 kB\n", "", ""},
            {"MemTotal: lots kB\nMemAvailable: 12 kB\n", "", ""},
            {"MemTotal: 12 MB\nMemAvailable: 12 kB\n", "", ""},
            {"MemTotal: 18446744073709551615 kB\nMemAvailable: 12 kB\n", "", ""},
        };
        for (const auto &row : rows) {
            QTemporaryDir proc;
            place(proc.filePath("meminfo"), row.meminfo);
            QVariantMap facts{{"TotalSysRAM", "8 GB"}, {"AvailableSysRAM", "2 GB"}};
            std::ostringstream out, err;
            sysinfo::GetMemoryInfo(facts, proc.path(), out, err);
            const bool ok = !row.total.isEmpty();
            QCOMPARE(facts.value("TotalSysRAM").toString(), ok ? row.total : "8 GB");
            QCOMPARE(facts.value("AvailableSysRAM").toString(), ok ? row.available : "2 GB");
            QCOMPARE(QString::fromStdString(out.str()), ok ? "Total RAM: " + row.total + "\n" : "");
            QCOMPARE(QString::fromStdString(err.str()), ok ? "" : "Failed to get memory info!\n");
        }
        QCOMPARE(sysinfo::gibText(0), QString("0 GB"));
    }

    void motherboard()
    {
        // Keys as they are before the probe: manufacturer "Earlier", model "Board".
        const struct {
            const char *name;
            QByteArray vendor, board;
            bool folder;
            const char *manufacturer, *model, *out, *err;
        } rows[] = {
            {"both", "ASUSTeK COMPUTER INC.\n", "ROG STRIX B650E-F GAMING WIFI   \n", true,
             "ASUSTeK COMPUTER INC.", "ROG STRIX B650E-F GAMING WIFI",
             "Motherboard Manufacturer: ASUSTeK COMPUTER INC.\n", ""},
            {"model only", {}, "X570 AORUS ELITE\n", true, "", "X570 AORUS ELITE", nullptr, ""},
            {"no folder", {}, {}, false, "Earlier", "Board", "", ""},
            {"no board files", {}, {}, true, "Earlier", "Board", "", ""},
            {"unreadable name", "Micro-Star International Co., Ltd.\n", "DIR", true, "Earlier", "Board", "",
             "Query for motherboard info failed.\n"},
        };
        for (const auto &row : rows) {
            QTemporaryDir base;
            const QString dmi = base.filePath("class/dmi/id");
            if (row.folder) {
                place(dmi + "/sys_vendor", "System manufacturer\n");
                place(dmi + "/board_vendor", row.vendor);
                place(dmi + "/board_name", row.board);
            }
            QVariantMap facts{{"MotherboardManufacturer", "Earlier"}, {"MotherboardModel", "Board"}};
            std::ostringstream out, err;
            sysinfo::GetMotherboardInfo(facts, dmi, out, err);
            QVERIFY2(facts.value("MotherboardManufacturer").toString() == row.manufacturer, row.name);
            QVERIFY2(facts.value("MotherboardModel").toString() == row.model, row.name);
            if (row.out)
                QVERIFY2(out.str() == row.out, row.name);
            QVERIFY2(err.str() == row.err, row.name);
        }
    }
};

QTEST_GUILESS_MAIN(TestSysinfoProbes)
#include "tst_sysinfo_probes.moc"
