// The program as a user starts it: real processes, one instance a user, the
// show-window marker, an ended first instance, a scene that fails.

#include "../e2e/program.h"

#include <csignal>
#include <unistd.h>

class SingleInstanceTest : public QObject {
    Q_OBJECT

    PrivateHome home;
    const QString marker = home.data("tarvell.txt");

    // Null unless it ran as the first instance: a first start writes "0"
    // over whatever an earlier run left.
    std::unique_ptr<QProcess> startFirstInstance()
    {
        if (!writeFile(marker, "1"))
            return nullptr;
        auto p = home.start(TARVELL_VORN);
        return QTest::qWaitFor([&] { return readFile(marker) == "0"; }, 10000) ? std::move(p) : nullptr;
    }

private slots:
    // Two users on one machine: each has an instance, and each second start
    // hands over to its own; the first instance's worker shows its window and
    // puts the marker back.
    void eachUserHandsOverToItsOwnInstance()
    {
        struct User {
            QProcessEnvironment env;
            QStringList asUser;
            QString marker;
        };
        std::vector<User> users{{home.environment(), {}, marker}};
        QTemporaryDir other(QStringLiteral("/tmp/tv-other-XXXXXX"));
        // The second user needs the build tree open to others: a clone in
        // root's own home is not.
        const bool otherCanRun = ::geteuid() == 0
            && QProcess::execute("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", "test", "-x",
                                             TARVELL_VORN}) == 0;
        if (otherCanRun) {
            for (const char *sub : {"", "/run", "/tmp"}) {
                QDir().mkpath(other.path() + sub);
                QVERIFY(::chown(qPrintable(other.path() + sub), 65534, 65534) == 0);
            }
            QFile::setPermissions(other.path() + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            User them{home.environment(), {"--reuid=65534", "--regid=65534", "--clear-groups", TARVELL_VORN},
                      other.path() + "/tarvell-vorn/tarvell.txt"};
            for (const char *key : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"})
                them.env.insert(key, other.path());
            them.env.insert("XDG_RUNTIME_DIR", other.path() + "/run");
            them.env.insert("TMPDIR", other.path() + "/tmp");
            users.push_back(them);
        } else {
            qWarning("not root, or the build tree is closed to other users: a second user's instance is not started");
        }
        const auto startAs = [&](const User &u) {
            return u.asUser.isEmpty() ? home.start(TARVELL_VORN) : home.start("setpriv", u.asUser, u.env);
        };
        std::vector<std::unique_ptr<QProcess>> firsts;
        firsts.push_back(startFirstInstance());
        QVERIFY(firsts.back());
        if (users.size() > 1) {
            firsts.push_back(startAs(users[1]));
            QTRY_COMPARE_WITH_TIMEOUT(readFile(users[1].marker), QByteArray("0"), 15000);
        }
        for (const User &u : users) {
            auto second = startAs(u);
            QVERIFY(second->waitForFinished(10000));
            QCOMPARE(second->exitCode(), 0);
            // It may have read the "1" before this line: wait for it to put "0" back.
            QTRY_COMPARE_WITH_TIMEOUT(readFile(u.marker), QByteArray("0"), 30000);
        }
        for (auto &first : firsts)
            PrivateHome::stop(first.get());
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
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT((output += first->readAll()).contains("worker thread started"), 30000);
        ::kill(static_cast<pid_t>(first->processId()), signal);
        QVERIFY(first->waitForFinished(10000));
        if (signal != SIGKILL) {
            QCOMPARE(first->exitStatus(), QProcess::NormalExit);
            QCOMPARE(first->exitCode(), 0);
            QVERIFY((output += first->readAll()).contains("Stop Worker ThreadID: "));
        }
        auto next = startFirstInstance();
        QVERIFY(next);
        PrivateHome::stop(next.get());
    }

    // A key that cannot be used at all is no running instance: the program starts.
    void unusableKeyStillStarts()
    {
        QProcessEnvironment env = home.environment();
        QVERIFY(writeFile(home.path("not-a-folder"), ""));
        env.insert("XDG_RUNTIME_DIR", home.path("not-a-folder/run"));
        QVERIFY(writeFile(marker, "1"));
        auto first = home.start(TARVELL_VORN, {}, env);
        QTRY_COMPARE_WITH_TIMEOUT(readFile(marker), QByteArray("0"), 10000);
        PrivateHome::stop(first.get());
        QVERIFY(first->readAll().contains("Single-instance key not available"));
    }

    // A launcher's xdg-activation token travels with the hand-over to the
    // window that is shown; one that is not a short printable text does not.
    void launcherTokenGoesToTheShownWindow()
    {
        auto first = startFirstInstance();
        QVERIFY(first);
        const QString tokenFile = home.data("activation-token");
        QProcessEnvironment env = home.environment();
        const auto secondStartWith = [&](const char *token) {
            env.insert("XDG_ACTIVATION_TOKEN", token);
            auto second = home.start(TARVELL_VORN, {}, env);
            return second->waitForFinished(10000) && second->exitCode() == 0;
        };
        QVERIFY(secondStartWith("vorn_token-1"));
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT((output += first->readAll()).contains("Activation token taken for the window"), 30000);
        QVERIFY(!QFile::exists(tokenFile));

        // The window is up, so the running instance reads no hand-over now:
        // whatever a second start leaves stays for the next show.
        QVERIFY(secondStartWith("two words"));
        QVERIFY(!QFile::exists(tokenFile));
        QVERIFY(secondStartWith("vorn_token-2"));
        QCOMPARE(readFile(tokenFile), QByteArray("vorn_token-2"));
        PrivateHome::stop(first.get());
    }

    void secondStartGivesUpWhenTheMarkerCannotBeWritten()
    {
        auto first = startFirstInstance();
        QVERIFY(first);
        // A folder where the marker file should be: it can never be opened.
        QVERIFY(QFile::remove(marker) && QDir().mkpath(marker));
        QElapsedTimer t;
        t.start();
        auto second = home.start(TARVELL_VORN);
        QVERIFY(second->waitForFinished(15000));
        QCOMPARE(second->exitCode(), 0);
        QVERIFY(t.elapsed() >= 1500);
        QVERIFY(second->readAll().contains("errorString"));
        QVERIFY(QDir().rmdir(marker));
        PrivateHome::stop(first.get());
    }

    void sceneThatFailsToLoadEndsWithMinusOne()
    {
        auto p = home.start(TARVELL_VORN_NOSCENE);
        QVERIFY(p->waitForFinished(15000));
        QCOMPARE(p->exitStatus(), QProcess::NormalExit);
        QCOMPARE(p->exitCode(), 255); // -1 as an exit status
    }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "tst_single_instance.moc"
