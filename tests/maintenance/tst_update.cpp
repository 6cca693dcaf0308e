// The update client against a loopback server that acts as a network
// attacker or a compromised server would.
#include "loopback_http.h"

#include "maintenance/update_client.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using namespace maintenance;

Q_DECLARE_METATYPE(QList<ScriptedResponse>)

namespace {

const QByteArray kInstaller = "#!/bin/sh\necho \"$0 $(cut -d' ' -f6 /proc/$$/stat) $$\" >> \"$(dirname \"$0\")/run.log\"\n";

QString sha(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
}

ScriptedResponse body(const QByteArray &data)
{
    ScriptedResponse r;
    r.body = data;
    return r;
}

ScriptedResponse redirect(const QByteArray &to)
{
    ScriptedResponse r;
    r.status = 302;
    r.location = to;
    return r;
}

// Fast bounds, so the slow cases stay quick: 1 KB/s over half a second.
TransferLimits quickLimits()
{
    TransferLimits limits;
    limits.connectTimeoutMs = 2000;
    limits.floorWindowMs = 500;
    return limits;
}

} // namespace

class TestUpdate : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        server = std::make_unique<LoopbackHttpServer>();
        QVERIFY(server->isListening());
        folder = std::make_unique<QTemporaryDir>();
    }
    void cleanup() { server.reset(); }

    void manifestTakesOverArraysOnly()
    {
        const auto m = parseManifest(R"({"software":[{"version":"1"},7],"note":"x","other":[]})");
        QCOMPARE(m.keys(), (QStringList{"other", "software"}));
        QCOMPARE(m.value("software").at(0).toMap().value("version").toString(), QStringLiteral("1"));
        QCOMPARE(m.value("software").at(1).toInt(), 7);
        QVERIFY(parseManifest("[1]").isEmpty());
    }

    void hostileDownloadsNeverLeaveAFile_data()
    {
        QTest::addColumn<QList<ScriptedResponse>>("script");
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("sha256");
        QTest::addColumn<QString>("toUser");

        ScriptedResponse endless;
        endless.patternBytes = qint64(1) << 40;
        endless.announceLength = false;
        ScriptedResponse huge = body(kInstaller);
        huge.announcedLength = kInstallerCeiling + 1;
        ScriptedResponse drip = body(QByteArray(4000, '#'));
        drip.dripMs = 100;
        ScriptedResponse cut = body(QByteArray(50000, '#'));
        cut.dropAfter = 1000;
        const QString self = "/file.run";
        QTest::newRow("plain http off loopback") << QList<ScriptedResponse>{} << "http://198.51.100.7/x.run"
                                                 << "" << "not a secure (https) address";
        QTest::newRow("redirect to plain http")
            << QList<ScriptedResponse>{redirect("http://198.51.100.7/x.run")} << self << "" << "https";
        QTest::newRow("redirect to file") << QList<ScriptedResponse>{redirect("file:///etc/passwd")} << self
                                          << "" << "https";
        QTest::newRow("404") << QList<ScriptedResponse>{ScriptedResponse{404}} << self << "" << "HTTP 404";
        QTest::newRow("endless body") << QList<ScriptedResponse>{endless} << self << "" << "how large";
        QTest::newRow("beyond the ceiling") << QList<ScriptedResponse>{huge} << self << "" << "too large";
        QTest::newRow("checksum mismatch") << QList<ScriptedResponse>{body(kInstaller)} << self
                                           << sha("other") << "integrity check";
        QTest::newRow("malformed checksum") << QList<ScriptedResponse>{body(kInstaller)} << self << "abc"
                                            << "malformed";
        QTest::newRow("slow drip") << QList<ScriptedResponse>{drip} << self << "" << "too slow";
        QTest::newRow("cut off") << QList<ScriptedResponse>{cut} << self << "" << "broke off";
    }

    void hostileDownloadsNeverLeaveAFile()
    {
        QFETCH(QList<ScriptedResponse>, script);
        QFETCH(QString, link);
        QFETCH(QString, sha256);
        QFETCH(QString, toUser);
        server->route("/file.run", script);
        const QString url = link.startsWith('/') ? server->url(link) : link;
        QString failure;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!downloadFileFromServer(url, folder->filePath("TARVELL_VORN_9.run"), {}, quickLimits(), sha256,
                                        &failure));
        QVERIFY2(failure.contains(toUser), qPrintable(failure));
        QVERIFY(QDir(folder->path()).entryList(QDir::Files | QDir::Hidden | QDir::System).isEmpty());
        QVERIFY(clock.elapsed() < 60000);
    }

    void verifiedDownloadReplacesAPlantedLinkNeverFollowsIt()
    {
        QTemporaryDir elsewhere;
        QFile victim(elsewhere.filePath("victim"));
        QVERIFY(victim.open(QIODevice::WriteOnly) && victim.write("precious") == 8);
        victim.close();
        const QString target = folder->filePath("TARVELL_VORN_9.run");
        QVERIFY(QFile::link(victim.fileName(), target));
        const QByteArray data = kInstaller + QByteArray(300000, '#');
        server->route("/a", {redirect(server->url("/file.run").toUtf8())});
        server->route("/file.run", {body(data)});
        QList<int> progress;
        QVERIFY(downloadFileFromServer(server->url("/a"), target, [&](int p) { progress << p; }, quickLimits(),
                                       sha(data).toUpper()));
        QFile file(target);
        QVERIFY(!QFileInfo(target).isSymLink() && file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), data);
        QCOMPARE(file.permissions() & (QFile::WriteGroup | QFile::WriteOther | QFile::ExeOwner), QFile::ExeOwner);
        QVERIFY(victim.open(QIODevice::ReadOnly));
        QCOMPARE(victim.readAll(), QByteArray("precious"));
        // 100 closes the download screen: only once the file is in place.
        QCOMPARE(progress.count(100), 1);
        QCOMPARE(progress.last(), 100);
        QVERIFY(std::is_sorted(progress.begin(), progress.end()));
        QCOMPARE(QDir(folder->path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 1);
    }

    void manifestEndsByItsDeadline()
    {
        ScriptedResponse drip = body(QByteArray(20000, ' ') + "{}");
        drip.dripMs = 5;
        server->route("/m.json", {drip});
        TransferLimits limits = quickLimits();
        limits.floorBytesPerSecond = 1; // only the deadline can end it
        limits.deadlineMs = 700;
        QElapsedTimer clock;
        clock.start();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^No update manifest: the server took longer"));
        QVERIFY(check_NewVersionFromServer(server->url("/m.json"), limits).isEmpty());
        QVERIFY(clock.elapsed() < 30000);
    }

    void serverTextIsEscapedForTheLog_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("logged");
        QTest::newRow("plain") << "Tarvell Vorn 25.05" << "Tarvell Vorn 25.05";
        QTest::newRow("terminal escape") << "\x1b[2Jx" << "\\x1b[2Jx";
        QTest::newRow("forged line") << "a\r\nb" << "a\\x0d\\x0ab";
        QTest::newRow("bidi override") << QString::fromUtf8("a\u202Eb") << "a\\x202eb";
        QTest::newRow("C1 control") << QString(QChar(0x9b)) << "\\x9b";
    }

    void serverTextIsEscapedForTheLog()
    {
        QFETCH(QString, text);
        QFETCH(QString, logged);
        QCOMPARE(loggable(text), logged);
    }

    void installerRunsInItsOwnSessionAndOutlivesTheWait()
    {
        const QString path = folder->filePath("with space.run");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(kInstaller + "sleep 1; echo done >> \"$(dirname \"$0\")/run.log\"\n") > 0);
        f.close();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not a verified download"));
        QVERIFY(!runInstaller(path)); // not made executable by a verified download
        QVERIFY(f.setPermissions(f.permissions() | QFile::ExeOwner));

        bool started = false;
        std::unique_ptr<QThread> waiter(QThread::create([&] { started = runInstaller(path); }));
        waiter->start();
        QTRY_VERIFY(QFile::exists(folder->filePath("run.log")));
        waiter->requestInterruption(); // the program is ending
        QVERIFY(waiter->wait(5000));
        QVERIFY(started);
        QTRY_VERIFY_WITH_TIMEOUT(readLog().contains("done"), 10000);
        const QStringList first = readLog().first().split(' ');
        QCOMPARE(first.mid(0, 2).join(' '), path);
        QCOMPARE(first.at(2), first.at(3)); // session id is its own pid
    }

private:
    QStringList readLog() const
    {
        QFile log(folder->filePath("run.log"));
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts)
                                             : QStringList();
    }

    std::unique_ptr<LoopbackHttpServer> server;
    std::unique_ptr<QTemporaryDir> folder;
};

QTEST_GUILESS_MAIN(TestUpdate)
#include "tst_update.moc"
