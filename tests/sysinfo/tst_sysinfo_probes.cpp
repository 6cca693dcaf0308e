// CPU, memory and motherboard probes against made-up /proc and DMI trees.
#include "sysinfo/cpu_info.h"
#include "sysinfo/memory_info.h"
#include "sysinfo/motherboard_info.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sstream>

namespace {

void writeFile(const QString &path, const QByteArray &content)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(content), qint64(content.size()));
}

// The 48 brand bytes as CPUID hands them over: text, NUL padding, terminator.
QByteArray brandBytes(const QByteArray &text)
{
    QByteArray b = text.left(48);
    b.append(QByteArray(49 - b.size(), '\0'));
    return b;
}

QByteArray meminfo(quint64 totalKb, quint64 availableKb)
{
    return "MemTotal:       " + QByteArray::number(totalKb) + " kB\n"
           "MemFree:         1234 kB\n"
           "MemAvailable:   " + QByteArray::number(availableKb) + " kB\n"
           "Buffers:          100 kB\n";
}

} // namespace

class TestSysinfoProbes : public QObject {
    Q_OBJECT

private slots:
    void brandCutBeforeCpu_data()
    {
        QTest::addColumn<QByteArray>("brand");
        QTest::addColumn<QString>("name");
        QTest::newRow("intel") << QByteArray("Intel(R) Core(TM) i7-9700K CPU @ 3.60GHz")
                               << QString("Intel(R) Core(TM) i7-9700K");
        QTest::newRow("no CPU, returned whole and untrimmed")
            << QByteArray("AMD Ryzen 7 7800X3D 8-Core Processor    ")
            << QString("AMD Ryzen 7 7800X3D 8-Core Processor    ");
        QTest::newRow("leading space") << QByteArray("        Intel(R) Xeon(R) CPU E5-2690 0 @ 2.90GHz")
                                       << QString("Intel(R) Xeon(R)");
        QTest::newRow("lower-case cpu is not the marker")
            << QByteArray("Virtual cpu model") << QString("Virtual cpu model");
        QTest::newRow("CPU first") << QByteArray("CPU X") << QString();
        QTest::newRow("text behind the terminator") << QByteArray("Foo Processor\0CPU", 17) << QString("Foo Processor");
    }
    void brandCutBeforeCpu()
    {
        QFETCH(QByteArray, brand);
        QFETCH(QString, name);
        QCOMPARE(sysinfo::cpuNameFromBrand(brandBytes(brand)), name);
    }

    void cpuNameFallsBackToProcCpuinfo()
    {
        QTemporaryDir proc;
        QVERIFY(proc.isValid());
        writeFile(proc.filePath("cpuinfo"),
                  "processor\t: 0\nvendor_id\t: GenuineIntel\n"
                  "model name\t: Intel(R) Core(TM) i5-8400 CPU @ 2.80GHz\nflags\t\t: fpu\n\n"
                  "processor\t: 1\nmodel name\t: Something Else\n");

        // No brand leaves, or leaves that hold only blanks.
        QCOMPARE(sysinfo::GetCPUInfo(QByteArray(), proc.path()), QString("Intel(R) Core(TM) i5-8400"));
        QCOMPARE(sysinfo::GetCPUInfo(brandBytes("                "), proc.path()),
                 QString("Intel(R) Core(TM) i5-8400"));
        // A real brand wins over the kernel's text.
        QCOMPARE(sysinfo::GetCPUInfo(brandBytes("AMD Ryzen 5 5600X 6-Core Processor"), proc.path()),
                 QString("AMD Ryzen 5 5600X 6-Core Processor"));

        QTemporaryDir empty;
        QCOMPARE(sysinfo::GetCPUInfo(QByteArray(), empty.path()), QString());
        writeFile(empty.filePath("cpuinfo"), "processor\t: 0\nHardware\t: BCM2835\n");
        QCOMPARE(sysinfo::GetCPUInfo(QByteArray(), empty.path()), QString());
    }

    void gibRoundsUp_data()
    {
        QTest::addColumn<quint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("16 GiB exactly") << quint64(17179869184ull) << QString("16 GB");
        QTest::newRow("one byte more") << quint64(17179869185ull) << QString("17 GB");
        QTest::newRow("31.9 GiB") << quint64(34256363520ull) << QString("32 GB");
        QTest::newRow("nothing") << quint64(0) << QString("0 GB");
    }
    void gibRoundsUp()
    {
        QFETCH(quint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(sysinfo::gibText(bytes), text);
    }

    void memoryFromMeminfo_data()
    {
        QTest::addColumn<quint64>("totalKb");
        QTest::addColumn<quint64>("availableKb");
        QTest::addColumn<QString>("total");
        QTest::addColumn<QString>("available");
        QTest::newRow("16 GiB exactly") << quint64(16777216) << quint64(8388608) << QString("16 GB") << QString("8 GB");
        QTest::newRow("one kB more") << quint64(16777217) << quint64(8388609) << QString("17 GB") << QString("9 GB");
        QTest::newRow("31.9 GiB") << quint64(33453480) << quint64(1) << QString("32 GB") << QString("1 GB");
    }
    void memoryFromMeminfo()
    {
        QFETCH(quint64, totalKb);
        QFETCH(quint64, availableKb);
        QFETCH(QString, total);
        QFETCH(QString, available);
        QTemporaryDir proc;
        writeFile(proc.filePath("meminfo"), meminfo(totalKb, availableKb));

        QVariantMap facts;
        std::ostringstream out, err;
        sysinfo::GetMemoryInfo(facts, proc.path(), out, err);
        QCOMPARE(facts.value("TotalSysRAM").toString(), total);
        QCOMPARE(facts.value("AvailableSysRAM").toString(), available);
        QCOMPARE(QString::fromStdString(out.str()), "Total RAM: " + total + "\n");
        QVERIFY(err.str().empty());
    }

    void memoryFailureWritesNothing_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("present");
        QTest::newRow("no meminfo") << QByteArray() << false;
        QTest::newRow("no MemAvailable") << QByteArray("MemTotal: 1024 kB\nMemFree: 12 kB\n") << true;
        QTest::newRow("no MemTotal") << QByteArray("MemAvailable: 1024 kB\n") << true;
        QTest::newRow("not a number") << QByteArray("MemTotal: lots kB\nMemAvailable: 12 kB\n") << true;
        QTest::newRow("unknown unit") << QByteArray("MemTotal: 12 MB\nMemAvailable: 12 kB\n") << true;
        QTest::newRow("overflow")
            << QByteArray("MemTotal: 18446744073709551615 kB\nMemAvailable: 12 kB\n") << true;
    }
    void memoryFailureWritesNothing()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, present);
        QTemporaryDir proc;
        if (present)
            writeFile(proc.filePath("meminfo"), content);
        QVariantMap facts{{"TotalSysRAM", "8 GB"}, {"AvailableSysRAM", "2 GB"}};
        std::ostringstream out, err;
        sysinfo::GetMemoryInfo(facts, proc.path(), out, err);
        QCOMPARE(QString::fromStdString(err.str()), QString("Failed to get memory info!\n"));
        QVERIFY(out.str().empty());
        QCOMPARE(facts.value("TotalSysRAM").toString(), QString("8 GB"));
        QCOMPARE(facts.value("AvailableSysRAM").toString(), QString("2 GB"));
    }

    void motherboardFromDmi()
    {
        QTemporaryDir dmi;
        writeFile(dmi.filePath("board_vendor"), "ASUSTeK COMPUTER INC.\n");
        writeFile(dmi.filePath("board_name"), "ROG STRIX B650E-F GAMING WIFI   \n");
        writeFile(dmi.filePath("sys_vendor"), "System manufacturer\n");
        QVariantMap facts;
        std::ostringstream out, err;
        sysinfo::GetMotherboardInfo(facts, dmi.path(), out, err);
        QCOMPARE(facts.value("MotherboardManufacturer").toString(), QString("ASUSTeK COMPUTER INC."));
        QCOMPARE(facts.value("MotherboardModel").toString(), QString("ROG STRIX B650E-F GAMING WIFI"));
        QCOMPARE(QString::fromStdString(out.str()),
                 QString("Motherboard Manufacturer: ASUSTeK COMPUTER INC.\n"));
        QVERIFY(err.str().empty());
    }

    void motherboardWithOnlyAModel()
    {
        QTemporaryDir dmi;
        writeFile(dmi.filePath("board_name"), "X570 AORUS ELITE\n");
        QVariantMap facts{{"MotherboardManufacturer", "old"}};
        std::ostringstream out, err;
        sysinfo::GetMotherboardInfo(facts, dmi.path(), out, err);
        QCOMPARE(facts.value("MotherboardManufacturer").toString(), QString(""));
        QCOMPARE(facts.value("MotherboardModel").toString(), QString("X570 AORUS ELITE"));
    }

    void noBoardLeavesKeysUntouched_data()
    {
        QTest::addColumn<bool>("folder");
        QTest::newRow("no DMI folder") << false;
        QTest::newRow("DMI folder without board") << true;
    }
    void noBoardLeavesKeysUntouched()
    {
        QFETCH(bool, folder);
        QTemporaryDir base;
        const QString dmi = base.filePath("class/dmi/id");
        if (folder) {
            writeFile(dmi + "/bios_vendor", "SeaBIOS\n");
        }
        QVariantMap facts{{"MotherboardManufacturer", "Earlier"}, {"MotherboardModel", "Board"}};
        std::ostringstream out, err;
        sysinfo::GetMotherboardInfo(facts, dmi, out, err);
        QCOMPARE(facts.value("MotherboardManufacturer").toString(), QString("Earlier"));
        QCOMPARE(facts.value("MotherboardModel").toString(), QString("Board"));
        QVERIFY(out.str().empty());
        QVERIFY(err.str().empty());
    }

    void unreadableBoardFileIsAFailedQuery()
    {
        QTemporaryDir dmi;
        writeFile(dmi.filePath("board_vendor"), "Micro-Star International Co., Ltd.\n");
        // A board_name that cannot be read as a file stands for a read error.
        QVERIFY(QDir(dmi.path()).mkdir("board_name"));
        QVariantMap facts{{"MotherboardManufacturer", "Earlier"}};
        std::ostringstream out, err;
        sysinfo::GetMotherboardInfo(facts, dmi.path(), out, err);
        QCOMPARE(QString::fromStdString(err.str()), QString("Query for motherboard info failed.\n"));
        QCOMPARE(facts.value("MotherboardManufacturer").toString(), QString("Earlier"));
        QVERIFY(!facts.contains("MotherboardModel"));
        QVERIFY(out.str().empty());
    }
};

QTEST_GUILESS_MAIN(TestSysinfoProbes)
#include "tst_sysinfo_probes.moc"
