// The update request end to end: the worker's loop with the real manifest
// fetch, download and installer start against a loopback server.
#include "loopback_http.h"
#include "tests/platform/card_sim_process.h"
#include "tests/worker/fakes.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QByteArray kInstaller = "#!/bin/sh\nbasename \"$0\" >> \"$(dirname \"$0\")/run.log\"\n";

QByteArray entry(const QString &version, const QString &link, const QString &sha256 = {})
{
    return QStringLiteral(R"({"name":"Tarvell \u001b[2J\u009b\u202e\nVorn","version":"%1","downloadLink":"%2","sha256":"%3"})")
        .arg(version, link, sha256)
        .toUtf8();
}

QStringList logged;
void collect(QtMsgType, const QMessageLogContext &, const QString &text) { logged << text; }

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
        server->route("/a.run", {ScriptedResponse{200, kInstaller}});
        replies.clear();
    }
    void cleanup() { server.reset(); }

    void updateOutcomeReachesTheScene_data()
    {
        QTest::addColumn<QByteArray>("manifest");
        QTest::addColumn<QString>("failure"); // empty: downloaded and started
        QTest::newRow("started") << entry("25.4.0", "LINK", sha(kInstaller)).prepend("{\"software\":[") << "";
        QTest::newRow("same version") << entry("25.04.00", "LINK").prepend("{\"software\":[") << "No update";
        QTest::newRow("checksum mismatch") << entry("25.05.00", "LINK", sha("x")).prepend("{\"software\":[")
                                           << "integrity check";
        QTest::newRow("404") << entry("25.05.00", "LINK/none").prepend("{\"software\":[") << "HTTP 404";
        QTest::newRow("no manifest") << QByteArray() << "could not be reached";
    }

    void updateOutcomeReachesTheScene()
    {
        QFETCH(QByteArray, manifest);
        QFETCH(QString, failure);
        if (!manifest.isEmpty())
            server->route("/Tarvell/latest_version.json",
                          {{200, manifest.replace("LINK", server->url("/a.run").toUtf8()) + "]}"}});
        logged.clear();
        const QtMessageHandler old = qInstallMessageHandler(collect);
        run(std::make_unique<FakeCard>(events), true);
        qInstallMessageHandler(old);
        const QVariantMap last = replies.last();
        QCOMPARE(last.value("function").toInt(), 12);
        QCOMPARE(runLog(), failure.isEmpty() ? QStringList{"TARVELL_VORN_25.4.0.run"} : QStringList());
        if (failure.isEmpty()) {
            QCOMPARE(last.value("progress").toInt(), 100);
            QVERIFY(!last.contains("downloadResult"));
        } else {
            QCOMPARE(last.value("downloadResult").toInt(), 1);
            QVERIFY2(last.value("failureText").toString().contains(failure),
                     qPrintable(last.value("failureText").toString()));
            QCOMPARE(QDir(downloads).entryList(QDir::Files | QDir::Hidden), QStringList());
        }
        // Server texts are logged escaped: no terminal control, no forged lines.
        QCOMPARE(logged.filter("  Name: Tarvell").isEmpty(), manifest.isEmpty());
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
        ScriptedResponse drip;
        drip.body = QByteArray(100000, ' ') + "{}";
        drip.dripMs = 10;
        server->route("/Tarvell/latest_version.json", {drip});
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
                                                          quickLimits(), downloads),
                           std::move(pacer)};
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

    QStringList runLog() const { return readLines(downloads + "/run.log"); }
    QByteArray cardLog() const { return readAll(cardLogPath); }

    QString cardLogPath;
    std::unique_ptr<LoopbackHttpServer> server;
    std::unique_ptr<QTemporaryDir> home;
    QString downloads;
    EventLog events;
    QList<QVariantMap> replies;
};

QTEST_GUILESS_MAIN(TestUpdateRequest)
#include "tst_update_request.moc"
