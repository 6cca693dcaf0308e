// After a suspend the program applies the saved lighting and fan again: a
// private system bus, a stand-in for logind that sends PrepareForSleep, and
// the simulated card's transfer log as the judge.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QStringList readLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

// A bus of the test's own: anybody may own a name and send signals.
const char kBusConfig[] =
    "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
    " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
    "<busconfig>\n"
    "  <listen>unix:path=%1</listen>\n"
    "  <auth>EXTERNAL</auth>\n"
    "  <policy context=\"default\">\n"
    "    <allow user=\"*\"/> <allow own=\"*\"/> <allow send_destination=\"*\"/>\n"
    "    <allow receive_sender=\"*\"/> <allow receive_requested_reply=\"true\"/>\n"
    "  </policy>\n"
    "</busconfig>\n";

} // namespace

class ResumeReapplyTest : public QObject {
    Q_OBJECT

    QTemporaryDir home;
    QProcess bus, login1, card, program;
    QString transferLog;

    // Waits until the log has grown past `from` and then stayed quiet a while.
    int settledLines(int from)
    {
        int last = -1;
        for (int i = 0; i < 100; ++i) {
            QTest::qWait(300);
            const int now = readLines(transferLog).size();
            if (now > from && now == last)
                return now;
            last = now;
        }
        return readLines(transferLog).size();
    }

private slots:
    void resumeAppliesTheStartUpTransfersAgain()
    {
        const QString runtime = home.filePath("run"), socket = home.filePath("system_bus_socket");
        QVERIFY(QDir().mkpath(runtime));
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile config(home.filePath("bus.conf"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QString::fromLatin1(kBusConfig).arg(socket).toUtf8());
        config.close();

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("XDG_DATA_HOME", home.filePath("data"));
        env.insert("XDG_CONFIG_HOME", home.filePath("config"));
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.insert("CTL_SYSFS_ROOT", runtime + "/sysfs");
        env.insert("QT_QUICK_BACKEND", "software");
        env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + socket);
        for (QProcess *p : {&bus, &login1, &card, &program}) {
            p->setProcessEnvironment(env);
            p->setProcessChannelMode(QProcess::MergedChannels);
        }

        bus.start("dbus-daemon", {"--config-file=" + config.fileName(), "--nofork", "--nopidfile"});
        QVERIFY2(bus.waitForStarted(), "dbus-daemon is needed (package dbus-daemon)");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(socket), 10000);
        login1.start(LOGIN1_STANDIN, QStringList());
        QByteArray standIn;
        QTRY_VERIFY2_WITH_TIMEOUT((standIn += login1.readAll()).contains("ready"),
                                  standIn.constData(), 10000);
        transferLog = home.filePath("transfers.log");
        card.start(CARD_SIM, {"--runtime-dir", runtime, "--sysfs", runtime + "/sysfs", "--log",
                              transferLog});
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += card.readAll()).contains("serving"), 10000);

        QByteArray output;
        connect(&program, &QProcess::readyRead, this, [&] { output += program.readAll(); });
        program.start(TARVELL_VORN, QStringList());
        QVERIFY(program.waitForStarted());
        // The start-up restore is the only thing that reaches the card.
        const int startUp = settledLines(0);
        QVERIFY2(startUp > 0, output.right(3000).constData());
        const QStringList restore = readLines(transferLog);

        login1.write("sleep\n");
        QTRY_VERIFY_WITH_TIMEOUT((standIn += login1.readAll()).contains("sent sleep"), 10000);
        QTest::qWait(1500);
        QCOMPARE(readLines(transferLog).size(), startUp); // going to sleep sends nothing

        login1.write("resume\n");
        const int after = settledLines(startUp);
        QCOMPARE(readLines(transferLog).mid(startUp), restore);
        QCOMPARE(after, 2 * startUp);
        QVERIFY(output.contains("Resumed from suspend"));
    }

    void cleanupTestCase()
    {
        for (QProcess *p : {&program, &card, &login1, &bus}) {
            p->disconnect(); // its last output must not reach a finished test's locals
            p->terminate();
            if (!p->waitForFinished(5000))
                p->kill();
        }
    }
};

QTEST_GUILESS_MAIN(ResumeReapplyTest)
#include "tst_resume_reapply.moc"
