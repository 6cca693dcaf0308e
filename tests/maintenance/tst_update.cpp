// The update path against a loopback server that acts as a network attacker
// or a compromised server would: the client itself, and the worker's update
// request and start-up end to end.
#include "loopback_http.h"
#include "tests/common/files.h"
#include "tests/platform/card_sim_process.h"
#include "tests/worker/fakes.h"

#include "maintenance/update_client.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace maintenance;

Q_DECLARE_METATYPE(ScriptedResponse)

namespace {

const QByteArray kInstaller = "#!/bin/sh\necho \"$0 $(cut -d' ' -f6 /proc/$$/stat) $$\" >> \"$(dirname \"$0\")/run.log\"\n";

ScriptedResponse redirect(const QByteArray &to) { return {302, {}, 0, true, -1, -1, 0, to}; }

QByteArray entry(const QString &version, const QString &link, const QString &sha256 = {})
{
    return QStringLiteral(R"({"software":[{"name":"Tarvell \u001b[2J\u009b\u202e\nVorn","version":"%1",)"
                          R"("downloadLink":"%2","sha256":"%3"}]})")
        .arg(version, link, sha256)
        .toUtf8();
}

QStringList logged;
void collect(QtMsgType, const QMessageLogContext &, const QString &text) { logged << text; }

} // namespace

class TestUpdate : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        server = std::make_unique<LoopbackHttpServer>();
        QVERIFY(server->isListening());
        folder = std::make_unique<QTemporaryDir>();
        qputenv("XDG_DATA_HOME", folder->filePath("data").toUtf8());
        replies.clear();
    }
    void cleanup() { server.reset(); }

    void hostileDownloadsNeverLeaveAFile_data()
    {
        QTest::addColumn<ScriptedResponse>("response");
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("toUser");

        const ScriptedResponse endless{200, {}, qint64(1) << 40, false};
        const ScriptedResponse huge{200, kInstaller, 0, true, kInstallerCeiling + 1};
        const ScriptedResponse drip{200, QByteArray(4000, '#'), 0, true, -1, -1, 100};
        const ScriptedResponse cut{200, QByteArray(50000, '#'), 0, true, -1, 1000};
        const QString self = "/file.run";
        QTest::newRow("plain http off loopback") << ScriptedResponse{} << "http://198.51.100.7/x.run"
                                                 << "not a secure (https) address";
        QTest::newRow("redirect to plain http") << redirect("http://198.51.100.7/x.run") << self << "https";
        QTest::newRow("404") << ScriptedResponse{404} << self << "HTTP 404";
        QTest::newRow("endless body") << endless << self << "how large";
        QTest::newRow("beyond the ceiling") << huge << self << "too large";
        QTest::newRow("slow drip") << drip << self << "too slow";
        QTest::newRow("cut off") << cut << self << "broke off";
    }

    void hostileDownloadsNeverLeaveAFile()
    {
        QFETCH(ScriptedResponse, response);
        QFETCH(QString, link);
        QFETCH(QString, toUser);
        server->route("/file.run", response);
        const QString url = link.startsWith('/') ? server->url(link) : link;
        QString failure;
        QVERIFY(!downloadFileFromServer(url, folder->filePath("TARVELL_VORN_9.run"), {}, quickLimits(), {},
                                        &failure));
        QVERIFY2(failure.contains(toUser), qPrintable(failure));
        QVERIFY(QDir(folder->path()).entryList(QDir::Files | QDir::Hidden | QDir::System).isEmpty());
    }

    void verifiedDownloadReplacesAPlantedLinkNeverFollowsIt()
    {
        QTemporaryDir elsewhere;
        const QString victim = elsewhere.filePath("victim"), target = folder->filePath("TARVELL_VORN_9.run");
        QVERIFY(writeFile(victim, "precious"));
        QVERIFY(QFile::link(victim, target));
        const QByteArray data = kInstaller + QByteArray(300000, '#');
        server->route("/a", redirect(server->url("/file.run").toUtf8()));
        server->route("/file.run", {200, data});
        QList<int> progress;
        QVERIFY(downloadFileFromServer(server->url("/a"), target, [&](int p) { progress << p; }, quickLimits(),
                                       sha(data).toUpper()));
        QVERIFY(!QFileInfo(target).isSymLink());
        QCOMPARE(readFile(target), data);
        const auto mode = QFile::permissions(target);
        QCOMPARE(mode & (QFile::WriteGroup | QFile::WriteOther | QFile::ExeOwner), QFile::ExeOwner);
        QCOMPARE(readFile(victim), QByteArray("precious"));
        // 100 closes the download screen: only once the file is in place.
        QCOMPARE(progress.count(100), 1);
        QCOMPARE(progress.last(), 100);
        QVERIFY(std::is_sorted(progress.begin(), progress.end()));
        QCOMPARE(QDir(folder->path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 1);
    }

    void updateOutcomeReachesTheScene_data()
    {
        QTest::addColumn<QByteArray>("manifest");
        QTest::addColumn<QString>("failure"); // empty: downloaded and started
        QTest::newRow("started") << entry("25.4.0", "LINK", sha(kInstaller)) << "";
        QTest::newRow("same version") << entry("25.04.00", "LINK") << "No update";
        QTest::newRow("checksum mismatch") << entry("25.05.00", "LINK", sha("x")) << "integrity check";
        QTest::newRow("no manifest") << QByteArray() << "could not be reached";
        // Which of two versions would count is up to the reader: neither does.
        QTest::newRow("key named twice") << entry("25.4.0", "LINK", sha(kInstaller)).replace(
            "\"version\":", "\"versio\\u006e\":\"25.04.00\",\"version\":") << "could not be reached";
    }

    void updateOutcomeReachesTheScene()
    {
        QFETCH(QByteArray, manifest);
        QFETCH(QString, failure);
        server->route("/a.run", {200, kInstaller});
        if (!manifest.isEmpty())
            server->route("/Tarvell/latest_version.json",
                          {200, manifest.replace("LINK", server->url("/a.run").toUtf8())});
        logged.clear();
        const QtMessageHandler old = qInstallMessageHandler(collect);
        run(std::make_unique<FakeCard>(events), true);
        qInstallMessageHandler(old);
        const QVariantMap last = replies.last();
        QCOMPARE(last.value("function").toInt(), 12);
        QCOMPARE(readLog().size(), failure.isEmpty() ? 1 : 0);
        const QStringList run = readLog().value(0).split(' ');
        QVERIFY(failure.isEmpty() == run.first().endsWith("/TARVELL_VORN_25.4.0.run"));
        if (failure.isEmpty()) {
            QCOMPARE(run.at(1), run.at(2)); // in a session of its own: its end is not the program's
            QCOMPARE(last.value("progress").toInt(), 100);
            QVERIFY(!last.contains("downloadResult"));
        } else {
            QCOMPARE(last.value("downloadResult").toInt(), 1);
            QVERIFY2(last.value("failureText").toString().contains(failure),
                     qPrintable(last.value("failureText").toString()));
            QCOMPARE(QDir(folder->path()).entryList(QDir::Files | QDir::Hidden), QStringList());
        }
        // Server texts are logged escaped: no terminal control, no forged lines.
        QCOMPARE(logged.filter("  Name: Tarvell").isEmpty(), failure.contains("reached"));
        for (const QString &line : logged)
            for (const QChar c : {QChar(0x1b), QChar(0x9b), QChar(0x202e), QChar('\n')})
                QVERIFY2(!line.contains(c) || !line.contains("Tarvell"), qPrintable(line));
    }

    void drippingManifestStillLetsTheRestoreReachTheCard()
    {
        QTemporaryDir runtime;
        cardLogPath = runtime.filePath("transfers.log");
        CardSimProcess sim(runtime.path(), {"--log", cardLogPath});
        QVERIFY(sim.start());
        qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
        server->route("/Tarvell/latest_version.json", {200, QByteArray(100000, ' ') + "{}", 0, true, -1, -1, 10});
        run(worker::makeCardBackend("\\\\.\\NF_I2C_BUS_00_0X0060"), false);
        QVERIFY(cardLog().count('\n') > 0);
        QCOMPARE(replies.first().value("MonitorInfoDict").toMap().value("updateApp").toInt(), 0);
    }

private:
    // Start-up, the first monitoring pass with its restore, then request 12
    // when asked, one more wait, stop.
    void run(std::unique_ptr<worker::CardBackend> card, bool update)
    {
        auto pacer = std::make_unique<ScriptedPacer>(events);
        ScriptedPacer *pacerPtr = pacer.get();
        worker::Backends b{std::move(card), std::make_unique<FakeGpu>(events), std::make_unique<FakeSystem>(),
                           worker::makeMaintenanceBackend(server->url("/Tarvell/latest_version.json"),
                                                          quickLimits(), folder->path()),
                           std::move(pacer), nullptr};
        TestableWorker w(std::move(b));
        QObject::connect(&w, &GPU_WORKER::dataChanged, [this](const QVariantMap &r) { replies << r; });
        int waits = 0;
        pacerPtr->onWait = [&](int) {
            if (update && waits++ == 0)
                w.receiveDataFromQML({{"function", 12}});
            else if (update || ++waits > 20 || cardLog().size() > 0)
                w.stopThread();
        };
        w.runHere();
    }

    QStringList readLog() const
    {
        return QString::fromUtf8(readFile(folder->filePath("run.log"))).split('\n', Qt::SkipEmptyParts);
    }
    QByteArray cardLog() const { return readFile(cardLogPath); }

    QString cardLogPath;
    std::unique_ptr<LoopbackHttpServer> server;
    std::unique_ptr<QTemporaryDir> folder;
    EventLog events;
    QList<QVariantMap> replies;
};

QTEST_GUILESS_MAIN(TestUpdate)
#include "tst_update.moc"
