// tarvell-i2c as a real process: what it prints and how it exits, without a
// device and against the simulated card.

#include <QtTest>

#ifdef TARVELL_CARD_SIM
#include "tests/platform/card_sim_process.h"
#endif

namespace {

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
    } else if (process.exitStatus() == QProcess::NormalExit)
        result = {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
    return result;
}

} // namespace

class ToolTest : public QObject {
    Q_OBJECT
    QTemporaryDir runtime;

private slots:
    void initTestCase()
    {
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
        QVERIFY2(r.err.contains("no device NO_SUCH_BUS") && r.err.contains("start tarvell-card-sim"), r.err.constData());

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
        const QString opening = "^" + QRegularExpression::escape(
                                          "Opening \\\\.\\NF_I2C_BUS_00_0X0060 as peripheral driver path \n");
        const struct {
            QStringList simArguments, commands;
            QString out;
            int successLines, failLines;
        } rows[] = {
            // A read's bytes are printed once.
            {{}, {"open 0", "Write {00 E0 21}", "Writeread {82} 2", "intenable 1"},
             opening + "Peripheral target 0 opened\n3 bytes written\n2 bytes returned\n"
                       "  [0-9a-f]{2} [0-9a-f]{2} {43}\nInterrupt 1 enabled\ndisabling interrupt: 1\n\\z",
             4, 0},
            {{"--fault", "error=31"}, {"open 0", "write {01}", "writeread {82} 2"},
             opening + "Error opening peripheral 0 - status 31\nError 31\nError 31\n\\z", 0, 3},
        };
        for (const auto &row : rows) {
            CardSimProcess sim(runtime.path(), row.simArguments);
            QVERIFY(sim.start());
            const Run r = run(runtime.path(), row.commands);
            QCOMPARE(r.exitCode, 0);
            QVERIFY2(QRegularExpression(row.out).match(QString(r.out)).hasMatch(), r.out.constData());
            QCOMPARE(r.err.count("RunCommand status: SUCCESS"), row.successLines);
            QCOMPARE(r.err.count("RunCommand status: FAIL"), row.failLines);
        }
#endif
    }
};

QTEST_GUILESS_MAIN(ToolTest)
#include "tst_tool.moc"
