#pragma once
// The program as a user starts it, as a real process under a private home:
// its own runtime, data, configuration and temporary folders, so the instance
// key, the settings and the simulator's endpoint are the test's own.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "../common/files.h"
#include "../platform/card_sim_process.h"

inline QStringList readLines(const QString &path)
{
    return QString::fromUtf8(readFile(path)).split('\n', Qt::SkipEmptyParts);
}

// A colour said n times, as the card's log shows a block of them.
inline QString repeated(const QString &triple, int n) { return (triple + ' ').repeated(n).chopped(1); }

class PrivateHome {
public:
    PrivateHome()
    {
        QDir().mkpath(runtime());
        QDir().mkpath(path("tmp"));
        QFile::setPermissions(runtime(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString path(const QString &name) const { return dir.filePath(name); }
    QString runtime() const { return path("run"); }
    QString data(const QString &name) const { return path("data/tarvell-vorn/" + name); }

    // Offscreen with no display and no scene-graph choice: no OpenGL at all.
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", dir.path());
        env.insert("XDG_DATA_HOME", path("data"));
        env.insert("XDG_CONFIG_HOME", path("config"));
        env.insert("XDG_RUNTIME_DIR", runtime());
        env.insert("TMPDIR", path("tmp"));
        env.insert("CTL_SYSFS_ROOT", runtime() + "/sysfs");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.remove("QT_QUICK_BACKEND");
        env.remove("DISPLAY");
        // Under ThreadSanitizer the program, a whole Qt application whose
        // own threads the checker cannot see into, gets suppressions of its own.
        if (env.contains("TARVELL_TSAN_PROGRAM_OPTIONS"))
            env.insert("TSAN_OPTIONS", env.value("TARVELL_TSAN_PROGRAM_OPTIONS"));
        return env;
    }

    std::unique_ptr<QProcess> start(const QString &program, const QStringList &args = {},
                                    const QProcessEnvironment &env = {}) const
    {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(env.isEmpty() ? environment() : env);
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->start(program, args);
        return p;
    }

    // SIGTERM, as a logout sends it: the normal teardown and exit code 0.
    static void stop(QProcess *p)
    {
        p->terminate();
        QVERIFY(p->waitForFinished(10000));
        QCOMPARE(p->exitStatus(), QProcess::NormalExit);
        QCOMPARE(p->exitCode(), 0);
    }

    // For the end of a test, whatever state it left the process in.
    static void end(QProcess *p)
    {
        if (!p || p->state() == QProcess::NotRunning)
            return;
        p->terminate();
        if (!p->waitForFinished(10000)) {
            p->kill();
            p->waitForFinished(5000);
        }
    }

private:
    QTemporaryDir dir;
};

// The program's surroundings: a private home, the simulated card logging what
// reaches it, and a private bus on which a stand-in plays logind. The bus is
// the program's system bus and, for a test that serves desktop services, its
// session bus too.
class CardRig {
public:
    PrivateHome home;
    const QString transferLog = home.path("transfers.log"), socket = home.path("bus_socket");
    QStringList cardArgs; // the card's own, set before start()
    std::unique_ptr<CardSimProcess> card;
    std::unique_ptr<QProcess> bus, login1, program;
    QByteArray programSaid, login1Said;

    ~CardRig()
    {
        for (QProcess *p : {program.get(), login1.get(), bus.get()})
            PrivateHome::end(p);
    }

    // False, with the reason in the log, when a part did not come up.
    bool start()
    {
        const auto failed = [](const char *why) { qWarning("%s", why); return false; };
        if (!QFile::exists(CONTROL_LIBRARY))
            return failed("the stand-in control library is not installed; run cmake --install");
        if (!startBus())
            return false;
        login1 = home.start(LOGIN1_STANDIN, {}, environment());
        if (!login1Says("ready\n"))
            return failed("the logind stand-in did not start");
        card = std::make_unique<CardSimProcess>(
            home.runtime(), QStringList{"--sysfs", home.runtime() + "/sysfs", "--log", transferLog} + cardArgs);
        return card->start() || failed("the simulated card did not start");
    }

    // The bus alone.
    bool startBus()
    {
        const QByteArray config =
            "<busconfig><listen>unix:path=" + socket.toUtf8() + "</listen><auth>EXTERNAL</auth>"
            "<policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/><allow send_destination=\"*\"/>"
            "<allow receive_sender=\"*\"/><allow receive_requested_reply=\"true\"/></policy></busconfig>";
        if (!writeFile(home.path("bus.conf"), config))
            return false;
        bus = home.start("dbus-daemon", {"--config-file=" + home.path("bus.conf"), "--nofork", "--nopidfile", "--print-address"});
        // The address is printed once the bus listens.
        const bool up = QTest::qWaitFor([&] { return bus->peek(4096).contains("guid="); }, 10000);
        if (!up)
            qWarning("dbus-daemon is needed (package dbus-daemon)");
        return up;
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = home.environment();
        env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + socket);
        return env;
    }

    // Its words are gathered as they come: a full pipe would stop it.
    void startProgram()
    {
        programSaid.clear();
        program = home.start(TARVELL_VORN, {}, environment());
        QObject::connect(program.get(), &QProcess::readyRead, program.get(), [this] { programSaid += program->readAll(); });
    }

    bool programSays(const QByteArray &text, int ms = 20000)
    {
        return QTest::qWaitFor([&] { return programSaid.contains(text); }, ms);
    }
    // Each of its lines is taken once: a second wait for the same words waits for them anew.
    bool login1Says(const QByteArray &text)
    {
        const auto seen = [&] { return (login1Said += login1->readAll()).contains(text); };
        if (!QTest::qWaitFor(seen, 15000))
            return false;
        login1Said.remove(0, login1Said.indexOf(text) + text.size());
        return true;
    }

    QStringList transfers() const { return readLines(transferLog); }
    // The transfers after `from` once `count` of them are there.
    QStringList transfersAfter(int from, int count) const
    {
        (void)QTest::qWaitFor([&] { return transfers().size() - from >= count; }, 15000);
        return transfers().mid(from);
    }
};
