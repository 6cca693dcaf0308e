// The program as a user starts it: real processes, one instance at a time,
// the show-window marker, a killed first instance, a scene that fails.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

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

    std::unique_ptr<QProcess> start(const QString &program)
    {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(environment());
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->start(program, QStringList());
        return p;
    }

    void startFirstInstance(std::unique_ptr<QProcess> &first)
    {
        writeFile(marker, "1");
        first = start(TARVELL_VORN);
        // A first start writes "0" over whatever an earlier run left.
        QTRY_COMPARE_WITH_TIMEOUT(readFile(marker), QByteArray("0"), 10000);
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
        std::unique_ptr<QProcess> first;
        startFirstInstance(first);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(first->state() == QProcess::Running);

        auto second = start(TARVELL_VORN);
        QVERIFY(second->waitForFinished(10000));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QCOMPARE(readFile(marker), QByteArray("1"));
        QVERIFY(first->state() == QProcess::Running);

        // Once the first instance's worker watches the marker it shows its
        // window and puts the marker back.
        QTRY_COMPARE_WITH_TIMEOUT(readFile(marker), QByteArray("0"), 30000);

        first->terminate();
        QVERIFY(first->waitForFinished(10000));
    }

    void killedFirstInstanceDoesNotLockTheProgramOut()
    {
        std::unique_ptr<QProcess> first;
        startFirstInstance(first);
        if (QTest::currentTestFailed())
            return;
        ::kill(static_cast<pid_t>(first->processId()), SIGKILL);
        QVERIFY(first->waitForFinished(5000));

        std::unique_ptr<QProcess> next;
        startFirstInstance(next); // writes "0": it runs as the first instance
        if (QTest::currentTestFailed())
            return;
        QTest::qWait(1500);
        QCOMPARE(next->state(), QProcess::Running);

        // And it holds the key now: a further start hands over to it.
        auto another = start(TARVELL_VORN);
        QVERIFY(another->waitForFinished(10000));
        QCOMPARE(another->exitCode(), 0);
        QCOMPARE(readFile(marker), QByteArray("1"));
        next->terminate();
        QVERIFY(next->waitForFinished(10000));
    }

    void secondStartGivesUpWhenTheMarkerCannotBeWritten()
    {
        std::unique_ptr<QProcess> first;
        startFirstInstance(first);
        if (QTest::currentTestFailed())
            return;
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
        first->terminate();
        QVERIFY(first->waitForFinished(10000));
    }

    void sceneThatFailsToLoadEndsWithMinusOne()
    {
        auto p = start(TARVELL_VORN_NOSCENE);
        QVERIFY(p->waitForFinished(15000));
        QCOMPARE(p->exitStatus(), QProcess::NormalExit);
        QCOMPARE(p->exitCode(), 255); // -1 as an exit status
        // It was the first instance, and it let go of the key on the way out.
        std::unique_ptr<QProcess> first;
        startFirstInstance(first);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(first->state(), QProcess::Running);
        first->terminate();
        QVERIFY(first->waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "tst_single_instance.moc"
