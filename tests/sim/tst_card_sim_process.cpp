// tarvell-card-sim: start and stop, the sysfs tree it publishes for a chosen
// kernel, its sequence request and its command line. What reaches the
// emulated MCU through the program's own protocol is tested in tests/card.

#include "tests/platform/card_sim_process.h"

#include "platform/control_codes.h"
#include "platform/overlapped.h"
#include "sim/card/card_endpoint.h"
#include "sim/card/options.h"

#include <QtTest>

#include <sys/stat.h>

using namespace platform;

namespace {
const char kCardPath[] = "\\\\.\\NF_I2C_BUS_00_0X0060";
}
using Bytes = std::vector<std::uint8_t>;

class TestCardSimProcess : public QObject {
    Q_OBJECT

    QTemporaryDir runtime_;

private slots:
    void initTestCase()
    {
        QVERIFY(runtime_.isValid());
        qputenv("XDG_RUNTIME_DIR", runtime_.path().toUtf8());
    }

    void signalsStopItAndRemoveTheSocket_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void signalsStopItAndRemoveTheSocket()
    {
        QFETCH(int, signal);
        CardSimProcess sim(runtime_.path());
        QVERIFY(sim.start());
        struct stat st {};
        QCOMPARE(::lstat(sim.socketPath().toUtf8().constData(), &st), 0);
        QVERIFY(S_ISSOCK(st.st_mode));
        QCOMPARE(int(st.st_mode & 0777), 0600);
        // A second simulator never takes a served endpoint over.
        QProcess second;
        second.start(QStringLiteral(TARVELL_CARD_SIM), {"--runtime-dir", runtime_.path()});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 1);
        QVERIFY(second.readAllStandardError().contains("already served"));
        QCOMPARE(QDir(runtime_.path()).entryList(QDir::System | QDir::Hidden | QDir::NoDotAndDotDot).filter("NF_I2C"),
                 QStringList{"NF_I2C_BUS_00_0X0060"});
        QCOMPARE(sim.stop(signal), 0);
        QVERIFY(!QFile::exists(sim.socketPath()));
        std::uint32_t error = 0;
        QVERIFY(!openDevice(kCardPath, &error));
        QCOMPARE(error, 2u);
    }

    // The tree of a 6.16 board whose tach line is fan2: once the MCU drives
    // the fan, fan2 reads it and fan1 stays 0. A 6.14 tree has no fan and no
    // temperature files at all, only the energy counters.
    void sysfsTreeOfAKernel()
    {
        QTemporaryDir trees;
        const QString tree616 = trees.path() + "/616", tree614 = trees.path() + "/614";
        CardSimProcess sim(runtime_.path(), {"--sysfs", tree616, "--sysfs-kernel", "6.16", "--sysfs-fan-channel", "2"});
        QVERIFY(sim.start());
        std::uint32_t error = 0;
        auto device = openDevice(kCardPath, &error);
        QVERIFY(device);
        Overlapped ov;
        std::uint32_t n = 0;
        const std::uint8_t target[4] = {0, 0, 0, 0};
        QVERIFY(device->ioControl(kIoctlOpenTarget, target, 4, nullptr, 0, &n, ov));
        for (const std::vector<std::uint8_t> &w : std::vector<std::vector<std::uint8_t>>{
                 {0x00, 0xD8, 0x10}, {0x01, 0x64}, {0x00, 0xE0, 0x21}, {0x02, 0x80, 0x00}})
            QVERIFY(device->write(w.data(), std::uint32_t(w.size()), &n, ov));
        const QString hw = tree616 + "/devices/pci0000:00/0000:00:01.1/0000:0a:00.0/0000:0b:01.0/0000:0c:00.0"
                                     "/hwmon/hwmon2/";
        auto value = [&](const QString &file) {
            QFile f(hw + file);
            return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed().toInt() : -1;
        };
        QTRY_VERIFY_WITH_TIMEOUT(value("fan2_input") > 2000, 15000);
        QCOMPARE(value("fan1_input"), 0);
        QVERIFY(value("temp2_input") > 0);
        device.reset();
        QCOMPARE(sim.stop(), 0);

        CardSimProcess old(runtime_.path(), {"--sysfs", tree614, "--sysfs-kernel", "6.14"});
        QVERIFY(old.start());
        const QStringList files = QDir(QString(hw).replace(tree616, tree614)).entryList(QDir::Files);
        QVERIFY(files.contains("energy1_input") && files.contains("energy2_input"));
        QCOMPARE(files.filter(QRegularExpression("^(fan|temp)")), QStringList());
    }

    void sequenceRunsAgainstTheMcu()
    {
        cardsim::CardEndpoint card(cardsim::Faults{});
        // -s {00 E0 21}, -s {82}, -s 2 : writes select and register, then reads.
        Bytes in;
        for (std::uint32_t v : {68u, 3u, 0u, 0u, 0u, 1u, 2u, 0u, 3u, 1u, 2u, 0u, 1u, 1u, 1u, 0u, 2u})
            for (int i = 0; i < 4; ++i)
                in.push_back(std::uint8_t(v >> (8 * i)));
        for (std::uint8_t b : {0x00, 0xE0, 0x21, 0x82})
            in.push_back(b);
        wire::Request r;
        r.op = wire::Op::IoControl;
        r.code = kIoctlSequence;
        r.input = in;
        r.outLength = 3;
        auto a = card.handle(r);
        QCOMPARE(a.status, 0u);
        QCOMPARE(a.data, (Bytes{0x01, 0x00}));
        r.outLength = 1;
        a = card.handle(r);
        QCOMPARE(a.status, platform::kErrorInsufficientBuffer);
        r.input.pop_back();
        r.outLength = 3;
        a = card.handle(r);
        QCOMPARE(a.status, platform::kErrorInvalidParameter);
    }

    // Values the simulator refuses rather than runs with.
    void commandLineMistakes()
    {
        std::string error;
        for (const char *bad : {"--sysfs-fan-channel=0", "--sysfs-fan-channel=4", "--fault=error=0",
                                "--fault=error=65536", "--fault=vanish-after=-3", "--fault=short-reply=1",
                                "--fault=slow", "--runtime-dir=", "--log", "extra"}) {
            cardsim::Options options;
            QVERIFY2(!cardsim::parseOptions({bad}, &options, &error), bad);
        }
    }
};

QTEST_GUILESS_MAIN(TestCardSimProcess)
#include "tst_card_sim_process.moc"
