// tarvell-i2c as a real process: what it prints and how it exits, without a
// device and against the simulated card.

#include <QtTest>

#ifdef TARVELL_CARD_SIM
#include "tests/platform/card_sim_process.h"
#endif

namespace {

const QByteArray kOpening = "Opening \\\\.\\NF_I2C_BUS_00_0X0060 as peripheral driver path \n";

struct Run {
    int exitCode = -1;
    QByteArray out, err;
};

// An own runtime directory: without a simulator in it the device is absent.
Run run(const QString &runtime, const QStringList &arguments, const QByteArray &input = {})
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtime);
    env.insert("HOME", runtime);
    process.setProcessEnvironment(env);
    process.start(TARVELL_I2C_PATH, arguments);
    Run result;
    if (!process.waitForStarted())
        return result;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

} // namespace

class ToolTest : public QObject {
    Q_OBJECT
    QTemporaryDir runtime;

private slots:
    void initTestCase()
    {
        QVERIFY(runtime.isValid());
        QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                  | QFileDevice::ExeOwner);
    }

    // The device-absent behaviour itself is the transport's; here: exit codes
    // and the status lines kept off standard output.
    void withoutDevice()
    {
        Run r = run(runtime.path(), {"--device", "\\\\.\\NO_SUCH_BUS"}, "prt\nopen 0\n");
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.out, QByteArray("Opening \\\\.\\NO_SUCH_BUS as peripheral driver path \n"
                                   "Error opening peripheral driver - 2\n.....\n"));
        QCOMPARE(r.err.count("RunCommand status: FAIL"), 2);

        r = run(runtime.path(), {"--device"});
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.out.isEmpty());
        QVERIFY(r.err.contains("usage: tarvell-i2c"));
    }

    void againstTheSimulatedCard()
    {
#ifndef TARVELL_CARD_SIM
        QSKIP("tarvell-card-sim is not part of this build");
#else
        CardSimProcess sim(runtime.path());
        QVERIFY(sim.start());
        const Run r = run(runtime.path(), {}, "open 0\nWrite {00 E0 21}\nWriteread {82} 2\nintenable 1\n");
        QCOMPARE(r.exitCode, 0);
        const QList<QByteArray> lines = r.out.split('\n');
        QCOMPARE(lines.size(), 9); // eight lines and the empty rest after the last line end
        QCOMPARE(lines.mid(0, 4), (QList<QByteArray>{kOpening.chopped(1), "Peripheral target 0 opened",
                                                     "3 bytes written", "2 bytes returned"}));
        // The completion dump and the returned bytes: the same two bytes.
        QVERIFY(QRegularExpression("^  [0-9a-f]{2} [0-9a-f]{2} {43}$").match(QString(lines[4])).hasMatch());
        QCOMPARE(lines[5], lines[4]);
        QCOMPARE(lines.mid(6, 2), (QList<QByteArray>{"Interrupt 1 enabled", "disabling interrupt: 1"}));
        QCOMPARE(r.err.count("RunCommand status: SUCCESS"), 3);
#endif
    }

    void simulatedCardFaults()
    {
#ifndef TARVELL_CARD_SIM
        QSKIP("tarvell-card-sim is not part of this build");
#else
        const struct {
            const char *fault;
            QStringList commands;
            QByteArray out;
            int statusLines; // write-reads print their bytes, not a status line
        } rows[] = {
            {"pending-write-ms=1500", {"Write {00 E0 21}"},
             kOpening + "timeout " + QByteArray(58, '.'), 1},
            {"error=31", {"open 0", "write {01}", "writeread {82} 2"},
             kOpening + "Error opening peripheral 0 - status 31\nError 31\nError 31\n", 2},
        };
        for (const auto &row : rows) {
            CardSimProcess sim(runtime.path(), {"--fault", row.fault});
            QVERIFY(sim.start());
            const Run r = run(runtime.path(), row.commands);
            QCOMPARE(r.exitCode, 0);
            QCOMPARE(r.out, row.out);
            QCOMPARE(r.err.count("RunCommand status: FAIL"), row.statusLines);
        }
#endif
    }
};

QTEST_GUILESS_MAIN(ToolTest)
#include "tst_tool.moc"
