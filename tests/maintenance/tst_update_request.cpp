// The update request end to end: the worker's loop with the real manifest
// fetch, download and installer start against a loopback server; only the
// card, GPU, system probes and pauses are stand-ins.
#include "loopback_http.h"
#include "stream_capture.h"
#include "tests/worker/fakes.h"

#include "maintenance/update_client.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <deque>

namespace {

// The worker's maintenance backend, pointed at the loopback server and a
// scratch download folder.
class LoopbackMaintenance final : public worker::MaintenanceBackend {
public:
    LoopbackMaintenance(QString manifest, QString downloads)
        : manifestUrl(std::move(manifest)), downloadDir(std::move(downloads))
    {
    }
    QMap<QString, QVariantList> checkNewVersion() override
    {
        return maintenance::check_NewVersionFromServer(manifestUrl, {2000, 1000});
    }
    bool download(const std::wstring &url, const std::wstring &path,
                  const worker::ProgressFn &progress) override
    {
        return maintenance::downloadFileFromServer(QString::fromStdWString(url),
                                                   QString::fromStdWString(path), progress,
                                                   {2000, 1000});
    }
    QString installerSavePath(const QString &version) override
    {
        return maintenance::installerSavePath(downloadDir, version);
    }
    void runInstaller(const QString &path) override { maintenance::runInstaller(path); }
    void setAutoStart(bool) override {}
    bool installDriver(const QString &) override { return false; }

private:
    QString manifestUrl;
    QString downloadDir;
};

// An installer that notes its own file name in run.log beside it.
QByteArray installerScript()
{
    return "#!/bin/sh\nbasename \"$0\" >> \"$(dirname \"$0\")/run.log\"\n";
}

QByteArray entry(const QString &version, const QString &link)
{
    return QStringLiteral("{\"name\":\"Tarvell Vorn\",\"version\":\"%1\",\"downloadLink\":\"%2\"}")
        .arg(version, link)
        .toUtf8();
}

} // namespace

class TestUpdateRequest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        server = std::make_unique<LoopbackHttpServer>();
        QVERIFY(server->isListening());
        home = std::make_unique<QTemporaryDir>();
        qputenv("XDG_DATA_HOME", home->filePath("data").toUtf8());
        downloads = home->filePath("Downloads");
        QVERIFY(QDir().mkpath(downloads));
        ScriptedResponse installer;
        installer.body = installerScript();
        server->route("/a.run", {installer});
        server->route("/b.run", {installer});
        replies.clear();
        events.events.clear();
    }
    void cleanup() { server.reset(); }

    void sameVersionIsNeitherOfferedNorDownloaded()
    {
        serveManifest({entry("25.04.00", server->url("/a.run"))});
        runUpdate();
        QCOMPARE(updateAppAtStart(), 0);
        QVERIFY(repliesWith(12).isEmpty());
        QCOMPARE(server->hits("/a.run"), 0);
        QVERIFY(QDir(downloads).entryList(QDir::Files).isEmpty());
    }

    void otherwiseWrittenVersionIsDownloadedAndStarted()
    {
        serveManifest({entry("25.4.0", server->url("/a.run"))});
        runUpdate();
        QCOMPARE(updateAppAtStart(), 1);
        const QList<QVariantMap> r12 = repliesWith(12);
        QVERIFY(!r12.isEmpty());
        QCOMPARE(r12.first().value("new_version").toString(), QStringLiteral("25.4.0"));
        QCOMPARE(r12.last().value("progress").toInt(), 100);
        QCOMPARE(runLog(), QStringList{"TARVELL_VORN_25.4.0.run"});
    }

    void twoEntriesAreDownloadedAndStartedInOrder()
    {
        serveManifest({entry("25.06.00", server->url("/b.run")), entry("25.05.00", server->url("/a.run"))});
        runUpdate();
        QCOMPARE(runLog(), (QStringList{"TARVELL_VORN_25.06.00.run", "TARVELL_VORN_25.05.00.run"}));
        QStringList announced;
        for (const QVariantMap &r : repliesWith(12)) {
            if (!r.value("new_version").toString().isEmpty() && !announced.contains(r.value("new_version").toString()))
                announced << r.value("new_version").toString();
        }
        QCOMPARE(announced, (QStringList{"25.06.00", "25.05.00"}));
    }

    void versionThatWouldLeaveTheFolderIsSkipped()
    {
        serveManifest({entry("../../.config/autostart/x", server->url("/b.run")),
                       entry("25.05.00", server->url("/a.run"))});
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("skipped.*\\.\\./\\.\\./\\.config/autostart/x"));
        runUpdate();
        QCOMPARE(server->hits("/b.run"), 0);
        QCOMPARE(runLog(), QStringList{"TARVELL_VORN_25.05.00.run"});
        QVERIFY(!QFileInfo::exists(home->filePath(".config")));
    }

    void installersGoToTheUsersDownloadFolder()
    {
        // No user-dirs.dirs in the scratch config, so it is $HOME/Downloads,
        // made when missing.
        qputenv("HOME", home->path().toUtf8());
        qputenv("XDG_CONFIG_HOME", home->filePath("config").toUtf8());
        QVERIFY(QDir(downloads).removeRecursively());
        const auto backend = worker::makeMaintenanceBackend();
        QCOMPARE(backend->installerSavePath("25.05.00"), downloads + "/TARVELL_VORN_25.05.00.run");
        QVERIFY(QFileInfo(downloads).isDir());
        QCOMPARE(backend->installerSavePath("../x"), QString());
    }

    void brokenDownloadIsNotStarted()
    {
        ScriptedResponse cut;
        cut.body = installerScript() + QByteArray(100000, '#');
        cut.dropAfter = 5000;
        server->route("/a.run", {cut});
        serveManifest({entry("25.05.00", server->url("/a.run"))});
        StreamCapture out(std::cout);
        runUpdate();
        QVERIFY(out.text().contains("Download failed!"));
        QVERIFY(runLog().isEmpty());
        QVERIFY(QDir(downloads).entryList(QDir::Files).isEmpty());
    }

private:
    void serveManifest(const QList<QByteArray> &entries)
    {
        QByteArray body = "{\"software\":[";
        for (int i = 0; i < entries.size(); ++i)
            body += (i ? "," : "") + entries.at(i);
        body += "]}";
        ScriptedResponse manifest;
        manifest.body = body;
        server->route("/Tarvell/latest_version.json", {manifest});
    }

    // Start-up, one monitoring pass, request 12, one idle wait, stop.
    void runUpdate()
    {
        auto pacer = std::make_unique<ScriptedPacer>(events);
        ScriptedPacer *pacerPtr = pacer.get();
        worker::Backends b{std::make_unique<FakeCard>(events), std::make_unique<FakeGpu>(events),
                           std::make_unique<FakeSystem>(),
                           std::make_unique<LoopbackMaintenance>(
                               server->url("/Tarvell/latest_version.json"), downloads),
                           std::move(pacer)};
        TestableWorker w(std::move(b));
        QObject::connect(&w, &GPU_WORKER::dataChanged, [this](const QVariantMap &r) { replies << r; });
        std::deque<std::function<void()>> steps{
            [&] { w.receiveDataFromQML({{"function", 12}}); },
            [] {},
        };
        pacerPtr->onWait = [&](int) {
            if (steps.empty()) {
                w.stopThread();
                return;
            }
            auto step = std::move(steps.front());
            steps.pop_front();
            step();
        };
        w.runHere();
    }

    int updateAppAtStart() const
    {
        for (const QVariantMap &r : replies) {
            if (r.value("function").toInt() == 100)
                return r.value("MonitorInfoDict").toMap().value("updateApp").toInt();
        }
        return -1;
    }

    QList<QVariantMap> repliesWith(int function) const
    {
        QList<QVariantMap> out;
        for (const QVariantMap &r : replies)
            if (r.value("function").toInt() == function)
                out << r;
        return out;
    }

    QStringList runLog() const
    {
        QFile log(downloads + "/run.log");
        if (!log.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    std::unique_ptr<LoopbackHttpServer> server;
    std::unique_ptr<QTemporaryDir> home;
    QString downloads;
    EventLog events;
    QList<QVariantMap> replies;
};

QTEST_GUILESS_MAIN(TestUpdateRequest)
#include "tst_update_request.moc"
