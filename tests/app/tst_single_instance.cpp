// The program as a user starts it: real processes, one instance at a time,
// the show-window marker, a killed first instance, a scene that fails.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <tuple>
#include <unistd.h>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

} // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT

    QTemporaryDir home;
    QString marker;

    // Every start sees the same private home, runtime and temporary folders,
    // so the instance key and the files are this test's own.
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("XDG_DATA_HOME", home.filePath("data"));
        env.insert("XDG_CONFIG_HOME", home.filePath("config"));
        env.insert("XDG_RUNTIME_DIR", home.filePath("run"));
        env.insert("TMPDIR", home.filePath("tmp"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("QT_QUICK_BACKEND", "software");
        return env;
    }

    std::unique_ptr<QProcess> start(const QString &program, const QProcessEnvironment &env = {},
                                    const QStringList &args = {})
    {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(env.isEmpty() ? environment() : env);
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->start(program, args);
        return p;
    }

    // Null unless it ran as the first instance: a first start writes "0"
    // over whatever an earlier run left.
    std::unique_ptr<QProcess> startFirstInstance()
    {
        writeFile(marker, "1");
        auto p = start(TARVELL_VORN);
        return QTest::qWaitFor([&] { return readFile(marker) == "0"; }, 10000) ? std::move(p) : nullptr;
    }

    static void stop(QProcess *p)
    {
        p->terminate();
        QVERIFY(p->waitForFinished(10000));
        QCOMPARE(p->exitCode(), 0);
    }

private slots:
    void initTestCase()
    {
        QDir().mkpath(home.filePath("run"));
        QFile::setPermissions(home.filePath("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir().mkpath(home.filePath("tmp"));
        marker = home.filePath("data/tarvell-vorn/tarvell.txt");
    }

    void secondStartHandsOverAndTheFirstAnswers()
    {
        auto first = startFirstInstance();
        QVERIFY(first);
        QVERIFY(first->state() == QProcess::Running);

        auto second = start(TARVELL_VORN);
        QVERIFY(second->waitForFinished(10000));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QVERIFY(first->state() == QProcess::Running);

        // The first instance's worker sees the marker change at once (it may
        // have read the "1" before this line): it shows its window and puts
        // the marker back.
        QTRY_COMPARE_WITH_TIMEOUT(readFile(marker), QByteArray("0"), 30000);

        stop(first.get());
    }

    // However the first instance ends, the next start claims the key at once;
    // the signals of a logout or `kill` end it through the normal teardown.
    void endedFirstInstanceLeavesTheKey_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
        QTest::newRow("SIGKILL") << int(SIGKILL);
    }
    void endedFirstInstanceLeavesTheKey()
    {
        QFETCH(int, signal);
        auto first = startFirstInstance();
        QVERIFY(first);
        QTest::qWait(2000); // the worker is up
        ::kill(static_cast<pid_t>(first->processId()), signal);
        QVERIFY(first->waitForFinished(10000));
        if (signal != SIGKILL) {
            QCOMPARE(first->exitStatus(), QProcess::NormalExit);
            QCOMPARE(first->exitCode(), 0);
            QVERIFY(first->readAll().contains("Stop Worker ThreadID: "));
        }
        auto next = startFirstInstance();
        QVERIFY(next);
        QCOMPARE(next->state(), QProcess::Running);
        stop(next.get());
    }

    // A key that cannot be used at all is no running instance: the program starts.
    void unusableKeyStillStarts()
    {
        QProcessEnvironment env = environment();
        writeFile(home.filePath("not-a-folder"), "");
        env.insert("XDG_RUNTIME_DIR", home.filePath("not-a-folder/run"));
        writeFile(marker, "1");
        auto first = start(TARVELL_VORN, env);
        QTRY_COMPARE_WITH_TIMEOUT(readFile(marker), QByteArray("0"), 10000);
        stop(first.get());
        QVERIFY(first->readAll().contains("Single-instance key not available"));
    }

    // Two users on one machine: each has an instance, each hand-over reaches its own.
    void eachUserHasItsOwnInstance()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to run a start as a second user");
        QTemporaryDir other(QStringLiteral("/tmp/tv-other-XXXXXX"));
        for (const char *sub : {"", "/run", "/tmp"}) {
            QDir().mkpath(other.path() + sub);
            QVERIFY(::chown(qPrintable(other.path() + sub), 65534, 65534) == 0);
        }
        QFile::setPermissions(other.path() + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment env = environment();
        for (const char *key : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"})
            env.insert(key, other.path());
        env.insert("XDG_RUNTIME_DIR", other.path() + "/run");
        env.insert("TMPDIR", other.path() + "/tmp");
        const QString otherMarker = other.path() + "/tarvell-vorn/tarvell.txt";
        const QStringList asOther{"--reuid=65534", "--regid=65534", "--clear-groups", TARVELL_VORN};

        auto mine = startFirstInstance();
        QVERIFY(mine);
        auto theirs = start("setpriv", env, asOther);
        QTRY_COMPARE_WITH_TIMEOUT(readFile(otherMarker), QByteArray("0"), 15000);
        QCOMPARE(theirs->state(), QProcess::Running);
        for (auto [environmentOf, args, path] :
             {std::tuple{environment(), QStringList{}, marker}, std::tuple{env, asOther, otherMarker}}) {
            auto second = args.isEmpty() ? start(TARVELL_VORN, environmentOf)
                                         : start("setpriv", environmentOf, args);
            QVERIFY(second->waitForFinished(10000));
            QCOMPARE(second->exitCode(), 0);
            // Its own instance's worker answers and puts the marker back.
            QTRY_COMPARE_WITH_TIMEOUT(readFile(path), QByteArray("0"), 30000);
        }
        QCOMPARE(mine->state(), QProcess::Running);
        QCOMPARE(theirs->state(), QProcess::Running);
        stop(mine.get());
        stop(theirs.get());
    }

    void secondStartGivesUpWhenTheMarkerCannotBeWritten()
    {
        auto first = startFirstInstance();
        QVERIFY(first);
        // A folder where the marker file should be: it can never be opened.
        QFile::remove(marker);
        QVERIFY(QDir().mkpath(marker));
        QElapsedTimer t;
        t.start();
        auto second = start(TARVELL_VORN);
        QVERIFY(second->waitForFinished(15000));
        QCOMPARE(second->exitCode(), 0);
        QVERIFY(t.elapsed() >= 1500);
        QVERIFY(second->readAll().contains("errorString"));
        QVERIFY(QDir().rmdir(marker));
        stop(first.get());
    }

    void sceneThatFailsToLoadEndsWithMinusOne()
    {
        auto p = start(TARVELL_VORN_NOSCENE);
        QVERIFY(p->waitForFinished(15000));
        QCOMPARE(p->exitStatus(), QProcess::NormalExit);
        QCOMPARE(p->exitCode(), 255); // -1 as an exit status
    }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "tst_single_instance.moc"
