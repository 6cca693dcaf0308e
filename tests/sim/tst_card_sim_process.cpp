// tarvell-card-sim as a process: transfer log, start and stop, command line.

#include "tests/platform/card_sim_process.h"

#include "platform/control_codes.h"
#include "platform/overlapped.h"

#include <QtTest>

#include <sys/stat.h>

using namespace platform;

namespace {

const char kCardPath[] = "\\\\.\\NF_I2C_BUS_00_0X0060";

QStringList readLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

bool finishes(Device &device, Overlapped &ov, bool started, std::uint32_t *n)
{
    if (started)
        return true;
    return lastError() == kErrorIoPending && device.overlappedResult(ov, n, true);
}

} // namespace

class TestCardSimProcess : public QObject {
    Q_OBJECT

    QTemporaryDir runtime_;

private slots:
    void initTestCase()
    {
        QVERIFY(runtime_.isValid());
        qputenv("XDG_RUNTIME_DIR", runtime_.path().toUtf8());
    }

    void logHoldsOneExactLinePerTransfer()
    {
        const QString log = runtime_.path() + "/card.log";
        CardSimProcess sim(runtime_.path(), {"--log", log});
        QVERIFY(sim.start());
        std::uint32_t error = 0;
        auto device = openDevice(kCardPath, &error);
        QVERIFY(device);

        Overlapped ov;
        std::uint32_t n = 0;
        const std::uint8_t target[4] = {0, 0, 0, 0};
        QVERIFY(device->ioControl(kIoctlOpenTarget, target, 4, nullptr, 0, &n, ov));
        const std::uint8_t select[] = {0x00, 0xD8, 0x10};
        const std::uint8_t duty[] = {0x01, 0x4B};
        const std::uint8_t readSelect[] = {0x00, 0xD8, 0x00};
        QVERIFY(device->write(select, 3, &n, ov));
        QVERIFY(device->write(duty, 2, &n, ov));
        QVERIFY(device->write(readSelect, 3, &n, ov));
        const std::uint8_t reg = 0x82;
        std::uint8_t out[2] = {};
        QVERIFY(device->ioControl(kIoctlWriteRead, &reg, 1, out, 2, &n, ov));
        QVERIFY(device->ioControl(kIoctlCloseTarget, nullptr, 0, nullptr, 0, &n, ov));
        // The log is flushed per line, so it is complete while the simulator runs.
        QCOMPARE(readLines(log), (QStringList{"OPEN 0", "W 00 D8 10", "W 01 4B", "W 00 D8 00",
                                              "WR 82 -> 4B 00", "CLOSE"}));
        device.reset();
        QCOMPARE(sim.stop(), 0);

        // A second run appends.
        CardSimProcess again(runtime_.path(), {"--log", log});
        QVERIFY(again.start());
        device = openDevice(kCardPath, &error);
        QVERIFY(device);
        const std::uint8_t nine[4] = {9, 0, 0, 0};
        QVERIFY(device->ioControl(kIoctlOpenTarget, nine, 4, nullptr, 0, &n, ov));
        QCOMPARE(readLines(log).size(), 7);
        QCOMPARE(readLines(log).last(), QStringLiteral("OPEN 9"));
    }

    void cancelledWriteNeverReachesTheLog()
    {
        const QString log = runtime_.path() + "/pending.log";
        CardSimProcess sim(runtime_.path(), {"--log", log, "--fault", "pending-write-ms=20000"});
        QVERIFY(sim.start());
        std::uint32_t error = 0;
        auto device = openDevice(kCardPath, &error);
        QVERIFY(device);
        Overlapped ov;
        std::uint32_t n = 0;
        const std::uint8_t bytes[] = {0x00, 0xE0, 0x21};
        QVERIFY(!device->write(bytes, 3, &n, ov));
        QCOMPARE(lastError(), kErrorIoPending);
        QVERIFY(device->cancelIo());
        QVERIFY(!device->overlappedResult(ov, &n, true));
        QCOMPARE(lastError(), kErrorOperationAborted);
        const std::uint8_t reg = 0x82;
        std::uint8_t out[2] = {};
        QVERIFY(device->ioControl(kIoctlWriteRead, &reg, 1, out, 2, &n, ov));
        QCOMPARE(readLines(log), QStringList{"WR 82 -> 00 00"});
    }

    void pendingWriteCompletesLate()
    {
        const QString log = runtime_.path() + "/late.log";
        CardSimProcess sim(runtime_.path(), {"--log", log, "--fault", "pending-write-ms=30"});
        QVERIFY(sim.start());
        std::uint32_t error = 0;
        auto device = openDevice(kCardPath, &error);
        QVERIFY(device);
        Event event(true);
        Overlapped ov;
        ov.event = &event;
        std::uint32_t n = 0;
        const std::uint8_t bytes[] = {0x00, 0xB5, 0x00};
        QVERIFY(!device->write(bytes, 3, &n, ov));
        QCOMPARE(lastError(), kErrorIoPending);
        QCOMPARE(event.wait(-1), kWaitObject0);
        QVERIFY(device->overlappedResult(ov, &n, false));
        QCOMPARE(n, 3u);
        QCOMPARE(readLines(log), QStringList{"W 00 B5 00"});
    }

    void everyRequestFailsWithTheGivenError()
    {
        CardSimProcess sim(runtime_.path(), {"--fault", "error=1167"});
        QVERIFY(sim.start());
        std::uint32_t error = 0;
        auto device = openDevice(kCardPath, &error);
        QVERIFY(device);
        Overlapped ov;
        std::uint32_t n = 0;
        const std::uint8_t target[4] = {0, 0, 0, 0};
        QVERIFY(!device->ioControl(kIoctlOpenTarget, target, 4, nullptr, 0, &n, ov));
        QCOMPARE(lastError(), 1167u);
        const std::uint8_t bytes[] = {0x00, 0xE0, 0x21};
        QVERIFY(!finishes(*device, ov, device->write(bytes, 3, &n, ov), &n));
        QCOMPARE(lastError(), 1167u);
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
        // Made under a temporary name and renamed: nothing else is left behind.
        QCOMPARE(QDir(runtime_.path()).entryList(QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)
                     .filter("NF_I2C"),
                 QStringList{"NF_I2C_BUS_00_0X0060"});
        QCOMPARE(sim.stop(signal), 0);
        QVERIFY(!QFile::exists(sim.socketPath()));
        std::uint32_t error = 0;
        QVERIFY(!openDevice(kCardPath, &error));
        QCOMPARE(error, 2u);
    }

    void aServedEndpointIsNotTakenOver()
    {
        CardSimProcess first(runtime_.path());
        QVERIFY(first.start());
        QProcess second;
        second.start(QStringLiteral(TARVELL_CARD_SIM), {"--runtime-dir", runtime_.path()});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 1);
        QVERIFY(second.readAllStandardError().contains("already served"));
        std::uint32_t error = 0;
        QVERIFY(openDevice(kCardPath, &error));
    }

    void defaultsToTheRuntimeDirectory()
    {
        QTemporaryDir other;
        QProcess sim;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", other.path());
        sim.setProcessEnvironment(env);
        sim.start(QStringLiteral(TARVELL_CARD_SIM), QStringList());
        QVERIFY(sim.waitForReadyRead(10000));
        QCOMPARE(QString::fromUtf8(sim.readAllStandardOutput()).trimmed(),
                 "tarvell-card-sim: serving " + other.path() + "/NF_I2C_BUS_00_0X0060");
        sim.terminate();
        QVERIFY(sim.waitForFinished(10000));
        QCOMPARE(sim.exitCode(), 0);
        QVERIFY(!QFile::exists(other.path() + "/NF_I2C_BUS_00_0X0060"));
    }

    void commandLineMistakes()
    {
        struct Case {
            QStringList args;
            int exitCode;
        };
        for (const Case &c : {Case{{"--fault", "slow"}, 2}, Case{{"--bogus"}, 2},
                              Case{{"--log"}, 2}, Case{{"--help"}, 0},
                              Case{{"--log", runtime_.path() + "/no/such/dir/log"}, 1}}) {
            QProcess sim;
            sim.start(QStringLiteral(TARVELL_CARD_SIM), c.args);
            QVERIFY(sim.waitForFinished(10000));
            QCOMPARE(sim.exitCode(), c.exitCode);
        }
        QVERIFY(!QFile::exists(runtime_.path() + "/NF_I2C_BUS_00_0X0060"));
    }
};

QTEST_GUILESS_MAIN(TestCardSimProcess)
#include "tst_card_sim_process.moc"
