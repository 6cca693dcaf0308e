// tarvell-card-sim as a process: it serves one private endpoint, never takes a
// served one over, and leaves none behind. What reaches the emulated MCU
// through the program's own protocol is tested in tests/card, the tree it
// publishes in tests/controllib.

#include "tests/platform/card_sim_process.h"

#include "platform/overlapped.h"

#include <QtTest>

#include <sys/stat.h>

using namespace platform;

namespace {
const char kCardPath[] = "\\\\.\\NF_I2C_BUS_00_0X0060";
}

class TestCardSimProcess : public QObject {
    Q_OBJECT

    QTemporaryDir runtime_;

private slots:
    void initTestCase()
    {
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
};

QTEST_GUILESS_MAIN(TestCardSimProcess)
#include "tst_card_sim_process.moc"
