// tarvell-i2c as a real process: what it prints and how it exits.

#include <QtTest>

#ifdef TARVELL_CARD_SIM
#include "tests/platform/card_sim_process.h"
#endif

namespace {

const QByteArray kOpenFailed = "Opening \\\\.\\NF_I2C_BUS_00_0X0060 as peripheral driver path \n"
                               "Error opening peripheral driver - 2\n";

} // namespace

class ToolTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void linesFromStandardInput();
    void textsAsArguments();
    void badOption();
    void againstTheSimulatedCard();
    void simulatedCardFaults();

private:
    struct Run {
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
    };
    Run run(const QStringList &arguments, const QByteArray &input = {});

    std::unique_ptr<QTemporaryDir> runtime_;
    QByteArray help_;
};

void ToolTest::init()
{
    // An empty runtime directory: no endpoint, so the device is absent.
    runtime_ = std::make_unique<QTemporaryDir>();
    QVERIFY(runtime_->isValid());
    QFile::setPermissions(runtime_->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                | QFileDevice::ExeOwner);
    if (help_.isEmpty()) {
        const Run r = run({"help"});
        help_ = r.out.mid(kOpenFailed.size());
        QVERIFY(help_.startsWith("\nCommands:\n"));
    }
}

ToolTest::Run ToolTest::run(const QStringList &arguments, const QByteArray &input)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtime_->path());
    env.insert("HOME", runtime_->path());
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

void ToolTest::linesFromStandardInput()
{
    const Run r = run({}, "help\nwrite 2 01\nfoo\n");
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.out, kOpenFailed + help_
                        + "Missing required parameter\nMissing required parameter\n"
                          "unclosed buffer\nBuffer required\n"
                          "unrecognized command foo\n"
                        + help_);
    // The status lines are debug output, kept off standard output.
    QCOMPARE(r.err.count("RunCommand status: FAIL"), 3);
}

void ToolTest::textsAsArguments()
{
    const Run r = run({"--device", "\\\\.\\NO_SUCH_BUS", "prt", "open x", "read 2", "@t"});
    QCOMPARE(r.exitCode, 1);
    // Without a device the commands themselves fail silently; the parse
    // messages still come, in order.
    QCOMPARE(r.out, QByteArray("Opening \\\\.\\NO_SUCH_BUS as peripheral driver path \n"
                               "Error opening peripheral driver - 2\n"
                               ".....\n"
                               "Value x is not a number\n"
                               "Missing required parameter\n"
                               "Error - could not pop tag\n"));
}

void ToolTest::badOption()
{
    const Run r = run({"--device"});
    QCOMPARE(r.exitCode, 2);
    QVERIFY(r.out.isEmpty());
    QVERIFY(r.err.contains("usage: tarvell-i2c"));
}

void ToolTest::againstTheSimulatedCard()
{
#ifndef TARVELL_CARD_SIM
    QSKIP("tarvell-card-sim is not part of this build");
#else
    CardSimProcess sim(runtime_->path());
    QVERIFY(sim.start());
    const Run r = run({}, "open 0\nWrite {00 E0 21}\nWriteread {82} 2\nintenable 1\n");
    QCOMPARE(r.exitCode, 0);
    const QList<QByteArray> lines = r.out.split('\n');
    QCOMPARE(lines.size(), 9); // eight lines and the empty rest after the last line end
    QCOMPARE(lines[0], QByteArray("Opening \\\\.\\NF_I2C_BUS_00_0X0060 as peripheral driver path "));
    QCOMPARE(lines[1], QByteArray("Peripheral target 0 opened"));
    QCOMPARE(lines[2], QByteArray("3 bytes written"));
    QCOMPARE(lines[3], QByteArray("2 bytes returned"));
    // The completion dump and the returned bytes: the same two bytes.
    QVERIFY(QRegularExpression("^  [0-9a-f]{2} [0-9a-f]{2} {43}$").match(QString(lines[4])).hasMatch());
    QCOMPARE(lines[5], lines[4]);
    QCOMPARE(lines[6], QByteArray("Interrupt 1 enabled"));
    QCOMPARE(lines[7], QByteArray("disabling interrupt: 1"));
    QCOMPARE(r.err.count("RunCommand status: SUCCESS"), 3);
#endif
}

void ToolTest::simulatedCardFaults()
{
#ifndef TARVELL_CARD_SIM
    QSKIP("tarvell-card-sim is not part of this build");
#else
    {
        CardSimProcess sim(runtime_->path(), {"--fault", "pending-write-ms=1500"});
        QVERIFY(sim.start());
        const Run r = run({"Write {00 E0 21}"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray("Opening \\\\.\\NF_I2C_BUS_00_0X0060 as peripheral driver path \n"
                                   "timeout .........................................................."));
        QCOMPARE(r.err.count("RunCommand status: FAIL"), 1);
    }
    {
        CardSimProcess sim(runtime_->path(), {"--fault", "error=31"});
        QVERIFY(sim.start());
        const Run r = run({"open 0", "write {01}", "writeread {82} 2"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray("Opening \\\\.\\NF_I2C_BUS_00_0X0060 as peripheral driver path \n"
                                   "Error opening peripheral 0 - status 31\n"
                                   "Error 31\n"
                                   "Error 31\n"));
    }
#endif
}

QTEST_GUILESS_MAIN(ToolTest)
#include "tst_tool.moc"
