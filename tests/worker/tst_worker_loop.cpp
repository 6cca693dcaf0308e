// The worker's loop, driven through its seams: every operation is a fake that
// records its call, every pause is recorded instead of slept, and requests are
// delivered at the end-of-pass pause, where the scene's requests land too.

#include "fakes.h"
#include "worker/protocol.h"
#include "worker/settingsfiles.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <deque>
#include <memory>

namespace {

QStringList g_messages;
void captureMessages(QtMsgType, const QMessageLogContext &, const QString &msg)
{
    g_messages << msg;
}

QVariantMap req(int function, QVariantMap extra = {})
{
    extra.insert(QStringLiteral("function"), function);
    return extra;
}

} // namespace

class Harness {
public:
    Harness()
    {
        qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
        auto c = std::make_unique<FakeCard>(log);
        auto g = std::make_unique<FakeGpu>(log);
        auto s = std::make_unique<FakeSystem>(log);
        auto m = std::make_unique<FakeMaintenance>(log);
        auto p = std::make_unique<ScriptedPacer>(log);
        card = c.get();
        gpu = g.get();
        maintenance = m.get();
        pacer = p.get();
        worker::Backends b{std::move(c), std::move(g), std::move(s), std::move(m), std::move(p)};
        w = std::make_unique<TestableWorker>(std::move(b));
        QObject::connect(w.get(), &GPU_WORKER::dataChanged, [this](const QVariantMap &reply) {
            replies << reply;
            log.add(QStringLiteral("reply %1").arg(reply.value("function").toInt()));
        });
        pacer->onSleep = [this](int ms) {
            if (ms != 100)
                return;
            if (steps.empty()) {
                w->stopThread();
                return;
            }
            auto step = std::move(steps.front());
            steps.pop_front();
            step();
        };
    }

    // At the end of the next pass: deliver this request.
    void then(const QVariantMap &request)
    {
        steps.push_back([this, request] { w->receiveDataFromQML(request); });
    }
    // Let a pass go by without a new request.
    void idle(int passes = 1)
    {
        for (int i = 0; i < passes; ++i)
            steps.push_back([] {});
    }
    void run() { w->runHere(); }

    QString dataDir() const { return w->applicationDataPath(); }
    void writeSettings(const QByteArray &json)
    {
        QFile f(w->settingsPath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(json);
    }
    QVariantMap savedSettings() const
    {
        QFile f(w->settingsPath());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(f.readAll()).array().at(0).toObject().toVariantMap();
    }
    QList<QVariantMap> repliesWith(int function) const
    {
        QList<QVariantMap> out;
        for (const QVariantMap &r : replies)
            if (r.value("function").toInt() == function)
                out << r;
        return out;
    }
    // The events after the start-up sequence and the first monitoring pass.
    QStringList eventsAfter(const QString &marker) const
    {
        const int i = log.events.indexOf(marker);
        return i < 0 ? QStringList() : log.events.mid(i + 1);
    }

    QTemporaryDir dataHome;
    EventLog log;
    FakeCard *card = nullptr;
    FakeGpu *gpu = nullptr;
    FakeMaintenance *maintenance = nullptr;
    ScriptedPacer *pacer = nullptr;
    std::unique_ptr<TestableWorker> w;
    QList<QVariantMap> replies;
    std::deque<std::function<void()>> steps;
};

class WorkerLoopTest : public QObject {
    Q_OBJECT

private slots:
    void init() { g_messages.clear(); qInstallMessageHandler(captureMessages); }
    void cleanup() { qInstallMessageHandler(nullptr); }

    void startUpSequenceAndFirstMonitoringPass()
    {
        Harness h;
        settingsfiles::writeText(h.w->markerPath(), QStringLiteral("1"));
        // The scene's first request arrives while the sequence runs; it gives way to 100.
        h.w->receiveDataFromQML(req(-1, {{"RGB", "ON"}}));
        h.idle();
        h.run();

        const QStringList start = h.log.events.mid(0, 6);
        QCOMPARE(start, (QStringList{"gpu", "cpu", "memory", "board", "manifest", "reply 0"}));
        const QVariantMap r0 = h.replies.first();
        QCOMPARE(r0.value("appVersion").toString(), QStringLiteral("25.04.00"));
        QCOMPARE(r0.value("startGUI").toInt(), 1);
        QCOMPARE(r0.value("GPU_count").toInt(), 1);
        const QVariantMap facts = r0.value("MonitorInfoDict").toMap();
        QCOMPARE(facts.value("CPU_Name").toString(), QStringLiteral("Test CPU"));
        QCOMPARE(facts.value("PsysPower").toDouble(), 150.0);
        QCOMPARE(facts.value("gpuChipPower").toDouble(), 90.0);
        QCOMPARE(facts.value("GPU_Utilization").toDouble(), 25.0);
        QCOMPARE(facts.value("updateApp").toInt(), 0);
        const QVariantMap ucd = r0.value("userControlData").toMap();
        QCOMPARE(ucd.value("r_hex").toString(), QStringLiteral("fb"));
        QCOMPARE(ucd.value("argb_effect").toInt(), 5);
        QCOMPARE(ucd.value("appVersion").toString(), QStringLiteral("25.04.00"));

        // Monitoring follows with no request: refresh, reply, 1 s, 4 s, restore of
        // the defaults (effect 05 colour fb 00 00 speed FE, lighting to the card,
        // fan to the GPU), then the end-of-pass pause.
        const QStringList pass = h.eventsAfter("reply 0");
        QCOMPARE(pass.mid(0, 12),
                 (QStringList{"gpu", "cpu", "memory", "board", "reply 100", "sleep 1000",
                              "sleep 4000", "sleep 80", "argb 05 fb 00 00 FE", "sync 0",
                              "gpumcu 1", "sleep 100"}));
        // The second monitoring pass does not restore again.
        const QStringList second = pass.mid(12);
        QCOMPARE(second.mid(0, 7), (QStringList{"gpu", "cpu", "memory", "board", "reply 100",
                                                "sleep 1000", "sleep 100"}));
        QVERIFY(!QFile::exists(h.w->settingsPath())); // modes never save
        QVERIFY(g_messages.contains(QStringLiteral("displayMode: 0")));
    }

    void startUpVersionSources_data()
    {
        QTest::addColumn<QByteArray>("versionFile");
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QString>("expected");
        QTest::newRow("file first line") << QByteArray("25.04.00\nsecond line\n") << QByteArray()
                                         << "25.04.00";
        QTest::newRow("trailing space kept") << QByteArray("1.2.3 \n") << QByteArray() << "1.2.3 ";
        QTest::newRow("settings when no file")
            << QByteArray() << QByteArray(R"([{"appVersion":"24.1.0"}])") << "24.1.0";
        QTest::newRow("default when neither")
            << QByteArray() << QByteArray(R"([{"RGB":"ON"}])") << "25.04.00";
    }
    void startUpVersionSources()
    {
        QFETCH(QByteArray, versionFile);
        QFETCH(QByteArray, settings);
        QFETCH(QString, expected);
        Harness h;
        if (!versionFile.isEmpty()) {
            QFile f(h.dataDir() + "/version.txt");
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(versionFile);
        }
        if (!settings.isEmpty())
            h.writeSettings(settings);
        h.steps.push_back([&h] { h.w->stopThread(); });
        h.run();
        QCOMPARE(h.replies.first().value("appVersion").toString(), expected);
    }

    void startUpUpdateOffer_data()
    {
        QTest::addColumn<QVariantList>("software");
        QTest::addColumn<int>("updateApp");
        QTest::addColumn<QString>("serverVersion");
        const auto entry = [](const QString &v) {
            return QVariant(QVariantMap{{"name", "Tarvell Vorn"}, {"version", v},
                                        {"downloadLink", "http://127.0.0.1/x"}});
        };
        QTest::newRow("same") << QVariantList{entry("25.04.00")} << 0 << "25.04.00";
        QTest::newRow("differs") << QVariantList{entry("25.4.0")} << 1 << "25.4.0";
        QTest::newRow("two, last kept")
            << QVariantList{entry("26.01.00"), entry("25.04.00")} << 1 << "25.04.00";
    }
    void startUpUpdateOffer()
    {
        QFETCH(QVariantList, software);
        QFETCH(int, updateApp);
        QFETCH(QString, serverVersion);
        Harness h;
        h.maintenance->manifest.insert("software", software);
        h.maintenance->manifest.insert("other", QVariantList{QVariantMap{{"version", "9"}}});
        h.steps.push_back([&h] { h.w->stopThread(); });
        h.run();
        const QVariantMap r0 = h.replies.first();
        QCOMPARE(r0.value("MonitorInfoDict").toMap().value("updateApp").toInt(), updateApp);
        QCOMPARE(r0.value("userControlData").toMap().value("serverVersion").toString(),
                 serverVersion);
    }

    void lightingRequestStoresChoicesAndReplies()
    {
        Harness h;
                h.then(req(1, {{"RGB", "ON"}, {"displayMode", 1}, {"effect", 10}, {"r_hex", "ff"},
                       {"g_hex", "80"}, {"b_hex", "00"}, {"speed", "FF"},
                       {"ARGBSliderSpeed", 4}}));
        h.run();
        const QStringList after = h.eventsAfter("sleep 100");
        QCOMPARE(after.mid(0, 5), (QStringList{"sync 0", "sleep 80", "argb 0A ff 80 00 FF",
                                               "reply 1", "sleep 100"}));
        const QVariantMap r1 = h.repliesWith(1).first();
        QCOMPARE(r1.value("resultCheck_Switch_MCU_MB").toInt(), 0);
        QCOMPARE(r1.value("resultCheck_ARGB_Control").toInt(), 0);
        // Earlier replies' keys travel along.
        QCOMPARE(r1.value("GPU_count").toInt(), 1);
        QVERIFY(r1.contains("MonitorInfoDict"));
        const QVariantMap saved = h.savedSettings();
        QCOMPARE(saved.value("argb_effect").toString(), QStringLiteral("10"));
        QCOMPARE(saved.value("r_hex").toString(), QStringLiteral("ff"));
        QCOMPARE(saved.value("speed").toString(), QStringLiteral("FF"));
        QCOMPARE(saved.value("ARGBSliderSpeed").toInt(), 4);
        QCOMPARE(saved.value("displayMode").toInt(), 1);
        QCOMPARE(saved.value("RGBControlMode").toString(), QStringLiteral("MCU"));
        // One-shot: the loop is idle afterwards, no second lighting command.
        QCOMPARE(h.log.matching("argb").size(), 2); // restore + request
    }

    void lightingEffectOutOfRangeOnlyLeavesMotherboardSync()
    {
        Harness h;
                h.then(req(1, {{"RGB", "OFF"}, {"displayMode", 0}, {"effect", 14}, {"r_hex", "11"}}));
        h.run();
        const QStringList after = h.eventsAfter("sleep 100");
        QCOMPARE(after.mid(0, 2), (QStringList{"sync 0", "sleep 100"}));
        QVERIFY(h.repliesWith(1).isEmpty());
        const QVariantMap saved = h.savedSettings();
        QCOMPARE(saved.value("RGB").toString(), QStringLiteral("OFF"));
        QCOMPARE(saved.value("r_hex").toString(), QStringLiteral("fb"));
    }

    void lightingReadBackRescuesPartialSuccess_data()
    {
        QTest::addColumn<QByteArray>("readBack");
        QTest::addColumn<int>("result");
        QTest::newRow("card has the effect") << QByteArray("\x03\x00", 2) << 0;
        QTest::newRow("card has another effect") << QByteArray("\x05\x00", 2) << 1;
        QTest::newRow("nothing read") << QByteArray() << 1;
    }
    void lightingReadBackRescuesPartialSuccess()
    {
        QFETCH(QByteArray, readBack);
        QFETCH(int, result);
        Harness h;
        h.steps.push_back([&h, readBack] {
            h.card->argbResult = 7;
            h.card->syncResult = 4;
            h.card->effectSpeed = readBack;
            h.w->receiveDataFromQML(req(1, {{"effect", 3}, {"r_hex", "00"}, {"g_hex", "00"},
                                            {"b_hex", "00"}, {"speed", "00"}}));
        });
        h.run();
        const QVariantMap r1 = h.repliesWith(1).first();
        QCOMPARE(r1.value("resultCheck_ARGB_Control").toInt(), result);
        QCOMPARE(r1.value("resultCheck_Switch_MCU_MB").toInt(), 1);
        const QStringList after = h.eventsAfter("argb 03 00 00 00 00");
        QCOMPARE(after.mid(0, 2), (QStringList{"readEffectSpeed", "reply 1"}));
    }

    void lightingSwitchKeepsColourAndSpeed()
    {
        Harness h;
        h.idle();
        h.then(req(13, {{"RGB", "OFF"}, {"displayMode", 0}, {"effect", 1}, {"r_hex", "00"},
                        {"g_hex", "00"}, {"b_hex", "00"}, {"speed", "02"},
                        {"ARGBSliderSpeed", 1}}));
        h.run();
        QCOMPARE(h.repliesWith(13).size(), 1);
        QVERIFY(h.log.events.contains("argb 01 00 00 00 02"));
        const QVariantMap saved = h.savedSettings();
        QCOMPARE(saved.value("RGB").toString(), QStringLiteral("OFF"));
        QCOMPARE(saved.value("r_hex").toString(), QStringLiteral("fb"));
        QCOMPARE(saved.value("speed").toString(), QStringLiteral("FE"));
        QCOMPARE(saved.value("argb_effect").toInt(), 5);
        QCOMPARE(saved.value("ARGBSliderSpeed").toInt(), 5);
    }

    void fanRequests()
    {
        Harness h;
        h.idle();
        h.then(req(2, {{"controlMode", 0}}));
        h.then(req(3, {{"fanControlBtn", 2}, {"fanSpeed", 50}}));
        h.steps.push_back([&h] {
            h.card->fanResult = 2;
            h.w->receiveDataFromQML(req(3, {{"fanControlBtn", 4}, {"fanSpeed", 100}}));
        });
        h.run();
        const auto r2 = h.repliesWith(2);
        QCOMPARE(r2.size(), 1);
        QCOMPARE(r2.first().value("resultCheck").toInt(), 0);
        const auto r3 = h.repliesWith(3);
        QCOMPARE(r3.size(), 2);
        QCOMPARE(r3.at(0).value("fanSpeedSetting").toInt(), 50);
        QCOMPARE(r3.at(0).value("resultCheck").toInt(), 0);
        QCOMPARE(r3.at(1).value("fanSpeedSetting").toInt(), 100);
        QCOMPARE(r3.at(1).value("resultCheck").toInt(), 1);
        // The failed duty is not stored; the preset is.
        const QVariantMap saved = h.savedSettings();
        QCOMPARE(saved.value("fanSpeed").toInt(), 50);
        QCOMPARE(saved.value("fanControlBtn").toInt(), 4);
        QCOMPARE(saved.value("FanControlMode").toString(), QStringLiteral("MCU"));
        QCOMPARE(h.log.matching("fan ").size(), 2);
        const QStringList afterFirst = h.eventsAfter("reply 2");
        QCOMPARE(afterFirst.mid(1, 2), (QStringList{"gpumcu 0", "fan 50"}));
    }

    void fanSwitchFailureKeepsMode()
    {
        Harness h;
        h.idle();
        h.steps.push_back([&h] {
            h.card->gpuMcuResult = -2;
            h.w->receiveDataFromQML(req(2, {{"controlMode", 0}}));
        });
        h.run();
        QCOMPARE(h.repliesWith(2).first().value("resultCheck").toInt(), 1);
        QCOMPARE(h.savedSettings().value("FanControlMode").toString(), QStringLiteral("GPU"));
    }

    void readRequestsOnlyLog()
    {
        Harness h;
        h.idle();
        h.then(req(4));
        h.then(req(5, {{"readMode", 1}}));
        h.then(req(6));
        h.steps.push_back([&h] {
            h.card->argbValue = QByteArray("\x00\x01", 2); // wrong size: nothing logged
            h.card->effectSpeed = QByteArray("\x0B\x33", 2); // speed not in the table
            h.w->receiveDataFromQML(req(5, {{"readMode", 1}}));
        });
        h.then(req(6));
        const int repliesBefore = 0;
        h.run();
        QCOMPARE(h.replies.size() - repliesBefore, 3); // 0 and two 100s, none for 4..6
        QVERIFY(g_messages.contains("FAN PWM: 1234 rpm"));
        QCOMPARE(g_messages.count("r_color: 17"), 1);
        QCOMPARE(g_messages.count("g_color: 34"), 1);
        QCOMPARE(g_messages.count("b_color: 51"), 1);
        QVERIFY(g_messages.contains("effectSpeed: FE"));
        QVERIFY(g_messages.contains("effectSpeed int: 5"));
        QVERIFY(g_messages.contains("rgbEffect: 11"));
        QVERIFY(g_messages.contains("effectSpeed: 33"));
        QVERIFY(g_messages.contains("effectSpeed int: -1"));
        QCOMPARE(h.log.matching("readArgbValue 1").size(), 2);
        QVERIFY(QFile::exists(h.w->settingsPath())); // 4..6 still save
    }

    void fanToGpuFallsIntoMonitoring()
    {
        Harness h;
        h.idle();
        h.then(req(7));
        h.idle(2);
        h.run();
        const QStringList after = h.eventsAfter("gpumcu 1"); // restore's switch
        const QStringList tail = after.mid(after.indexOf("gpumcu 1") + 1);
        QCOMPARE(tail.mid(0, 6), (QStringList{"sleep 100", "gpu", "cpu", "memory", "board",
                                              "reply 100"}));
        QCOMPARE(h.savedSettings().value("FanControlMode").toString(), QStringLiteral("GPU"));
    }

    void motherboardHandOverAndBack()
    {
        Harness h;
                h.then(req(8));
        h.then(req(9));
        h.run();
        const auto r8 = h.repliesWith(8);
        QCOMPARE(r8.size(), 1);
        QCOMPARE(r8.first().value("resultCheck").toInt(), 0);
        QVERIFY(g_messages.contains("outputArray[0]: 1"));
        QStringList after = h.eventsAfter("sleep 100");
        QCOMPARE(after.mid(0, 4), (QStringList{"sync 1", "readSyncCable", "reply 8", "sleep 100"}));
        QCOMPARE(after.mid(4, 3), (QStringList{"sync 0", "readSyncCable", "sleep 100"}));
        const QVariantMap saved = h.savedSettings();
        QCOMPARE(saved.value("RGBControlMode").toString(), QStringLiteral("MCU"));
        QCOMPARE(saved.value("RGB").toString(), QStringLiteral("ON"));
    }

    void refreshThemeSaveAndNothing()
    {
        Harness h;
                h.then(req(10));
        h.then(req(11, {{"displayMode", 1}}));
        h.then(req(15));
        h.run();
        QStringList after = h.eventsAfter("sleep 100");
        QCOMPARE(after.mid(0, 7), (QStringList{"sleep 1000", "gpu", "cpu", "memory", "board",
                                               "reply 10", "sleep 100"}));
        QCOMPARE(h.repliesWith(10).first().value("MonitorInfoDict").toMap().value("CPU_Name"),
                 QVariant("Test CPU"));
        QCOMPARE(h.savedSettings().value("displayMode").toInt(), 1);
    }

    void nothingSavesForFifteenButFourteenDoes()
    {
        Harness h;
        h.idle();
        h.then(req(15));
        h.then(req(50));
        h.run();
        QVERIFY(!QFile::exists(h.w->settingsPath()));
        Harness h2;
        h2.idle();
        h2.then(req(14));
        h2.run();
        QVERIFY(QFile::exists(h2.w->settingsPath()));
    }

    void updateRequest_data()
    {
        QTest::addColumn<QStringList>("versions");
        QTest::addColumn<bool>("downloadOk");
        QTest::addColumn<QStringList>("expected");
        const auto one = [](const QString &v, bool installs) {
            QStringList e{"reply 12", "download http://h/" + v + " -> /downloads/TARVELL_VORN_" + v,
                          "reply 12", "reply 12"};
            if (installs)
                e << "install /downloads/TARVELL_VORN_" + v;
            return e;
        };
        QTest::newRow("same version") << QStringList{"25.04.00"} << true << QStringList{};
        QTest::newRow("one newer") << QStringList{"25.05.00"} << true << one("25.05.00", true);
        QTest::newRow("two, in order") << QStringList{"26.1", "26.2"} << true
                                       << one("26.1", true) + one("26.2", true);
        QTest::newRow("same one skipped") << QStringList{"25.04.00", "26.2"} << true
                                          << one("26.2", true);
        QTest::newRow("failed download not started") << QStringList{"26.1"} << false
                                                     << one("26.1", false);
        QTest::newRow("unsafe version skipped") << QStringList{"../../x", "26.3"} << true
                                                << one("26.3", true);
    }
    void updateRequest()
    {
        QFETCH(QStringList, versions);
        QFETCH(bool, downloadOk);
        QFETCH(QStringList, expected);
        Harness h;
        h.maintenance->downloadOk = downloadOk;
        h.idle();
        h.steps.push_back([&h, versions] {
            QVariantList entries;
            for (const QString &v : versions)
                entries << QVariantMap{{"name", "Tarvell Vorn"}, {"version", v},
                                       {"downloadLink", "http://h/" + v}};
            h.maintenance->manifest.insert("software", entries);
            h.w->receiveDataFromQML(req(12));
        });
        h.run();
        QStringList got;
        for (const QString &e : h.eventsAfter("manifest").mid(0)) {
            if (e == "reply 12" || e.startsWith("download ") || e.startsWith("install "))
                got << e;
        }
        // The first "manifest" is start-up's; the update's own fetch comes later.
        got.clear();
        const QStringList all = h.log.events;
        const int updateFetch = all.lastIndexOf("manifest");
        for (const QString &e : all.mid(updateFetch + 1))
            if (e == "reply 12" || e.startsWith("download ") || e.startsWith("install "))
                got << e;
        QCOMPARE(got, expected);
        const auto r12 = h.repliesWith(12);
        if (!expected.isEmpty()) {
            QCOMPARE(r12.first().value("downloadFile").toInt(), 1);
            QCOMPARE(r12.first().value("InstallApp").toInt(), 0);
            QCOMPARE(r12.last().value("progress").toInt(), 100);
            QCOMPARE(r12.last().value("new_version").toString(), versions.last());
            QCOMPARE(r12.last().value("appVersion").toString(), QStringLiteral("25.04.00"));
        }
        QVERIFY(QFile::exists(h.w->settingsPath()));
    }

    void driverReinstall()
    {
        for (bool ok : {true, false}) {
            Harness h;
            h.maintenance->driverOk = ok;
            h.idle();
            h.then(req(16));
            h.run();
            const auto r16 = h.repliesWith(16);
            QCOMPARE(r16.size(), 1);
            QCOMPARE(r16.first().value("resultCheck").toInt(), ok ? 0 : 1);
            QVERIFY(h.log.matching("driver ").first().endsWith(
                "/NF_I2CPeripheralDriver/NfI2cTestDrv.inf"));
            QVERIFY(!QFile::exists(h.w->settingsPath()));
        }
    }

    void restoreBranches_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("lighting off")
            << QByteArray(R"({"RGB":"OFF","RGBControlMode":"MCU","argb_effect":"7","r_hex":"11","speed":"01","FanControlMode":"GPU"})")
            << QStringList{"sync 0", "argb 01 00 00 00 01", "gpumcu 1"};
        QTest::newRow("card drives, valid effect")
            << QByteArray(R"({"RGB":"ON","RGBControlMode":"MCU","argb_effect":12,"r_hex":"aa","g_hex":"bb","b_hex":"cc","speed":"02","FanControlMode":"MCU","fanSpeed":75})")
            << QStringList{"sleep 80", "argb 0C aa bb cc 02", "sync 0", "gpumcu 0", "sleep 80", "fan 75"};
        QTest::newRow("card drives, bad effect")
            << QByteArray(R"({"RGB":"ON","RGBControlMode":"MCU","argb_effect":0,"FanControlMode":"other"})")
            << QStringList{"sync 0"};
        QTest::newRow("motherboard drives")
            << QByteArray(R"({"RGB":"ON","RGBControlMode":"MB","FanControlMode":"GPU"})")
            << QStringList{"sync 1", "gpumcu 1"};
        QTest::newRow("nothing known") << QByteArray(R"({"RGB":"ON"})") << QStringList{};
    }
    void restoreBranches()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QStringList, expected);
        Harness h;
        h.writeSettings(settings);
        h.run();
        const QStringList after = h.eventsAfter("sleep 4000");
        QCOMPARE(after.mid(0, expected.size() + 1), expected + QStringList{"sleep 100"});
        QVERIFY(h.repliesWith(-2).isEmpty());
    }

    void restoreReportsMissingDriverOnlyFromTwoFailures()
    {
        for (int failing : {1, 2}) {
            Harness h;
            h.writeSettings(R"({"RGB":"ON","RGBControlMode":"MCU","argb_effect":5,"FanControlMode":"GPU"})");
            h.card->argbResult = -2;
            if (failing == 2)
                h.card->gpuMcuResult = -2;
            h.idle(2);
            h.run();
            QCOMPARE(h.repliesWith(-2).size(), failing == 2 ? 1 : 0);
            if (failing == 2)
                QVERIFY(g_messages.contains("ERROR: 2"));
        }
    }

    void markerModeShowsWindowOnce_data()
    {
        QTest::addColumn<QByteArray>("marker");
        QTest::addColumn<int>("shows");
        QTest::newRow("asked") << QByteArray(" 1 \n") << 1;
        QTest::newRow("not asked") << QByteArray("0") << 0;
        QTest::newRow("unreadable") << QByteArray() << 0;
        QTest::newRow("garbage") << QByteArray("2") << 0;
    }
    void markerModeShowsWindowOnce()
    {
        QFETCH(QByteArray, marker);
        QFETCH(int, shows);
        Harness h;
        h.idle();
        h.steps.push_back([&h, marker] {
            if (!marker.isEmpty()) {
                QFile f(h.w->markerPath());
                QVERIFY(f.open(QIODevice::WriteOnly));
                f.write(marker);
            }
            h.w->receiveDataFromQML(req(101));
        });
        h.idle(3);
        h.run();
        QCOMPARE(h.repliesWith(101).size(), shows);
        if (shows) {
            QCOMPARE(h.repliesWith(101).first().value("startGUI").toInt(), 1);
            QFile f(h.w->markerPath());
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QByteArray("0"));
            QCOMPARE(h.log.matching("sleep 50").size(), 1); // then idle
        } else {
            QCOMPARE(h.log.matching("sleep 50").size(), 4); // keeps polling
        }
    }

    void latestRequestWins()
    {
        Harness h;
        h.idle();
        h.steps.push_back([&h] {
            h.w->receiveDataFromQML(req(11, {{"displayMode", 1}}));
            h.w->receiveDataFromQML(req(9));
        });
        h.run();
        QCOMPARE(h.savedSettings().value("displayMode").toInt(), 0);
        QCOMPARE(h.log.matching("sync 0").size(), 2); // restore + request 9
    }

    void requestDeliveredDuringACommandSurvivesItsEnd()
    {
        Harness h;
        h.idle();
        h.then(req(2, {{"controlMode", 1}}));
        h.run();
        Harness h2;
        h2.idle();
        h2.steps.push_back([&h2] {
            h2.card->onSwitch = [&h2] {
                h2.card->onSwitch = nullptr;
                h2.w->receiveDataFromQML(req(11, {{"displayMode", 1}}));
            };
            h2.w->receiveDataFromQML(req(2, {{"controlMode", 1}}));
        });
        h2.idle();
        h2.run();
        QCOMPARE(h2.repliesWith(2).size(), 1);
        QCOMPARE(h2.savedSettings().value("displayMode").toInt(), 1);
        // Without the newer request the command goes back to idle: one reply only.
        QCOMPARE(h.repliesWith(2).size(), 1);
    }

    void stopDuringSleepEndsThatPass()
    {
        Harness h;
        h.pacer->onSleep = [&h](int ms) {
            if (ms == 1000)
                h.w->stopThread();
        };
        h.run();
        // The pass that was sleeping runs to its end (here: the restore), then
        // the loop stops without its end-of-pass pause or another pass.
        QCOMPARE(h.log.events.last(), QStringLiteral("gpumcu 1"));
        QCOMPARE(h.log.events.count("sleep 100"), 0);
        QCOMPARE(h.repliesWith(100).size(), 1);
        QVERIFY(g_messages.last().startsWith("Stop Worker ThreadID: "));
    }

    void exceptionInAPassKeepsTheWorkerServing()
    {
        Harness h;
        h.writeSettings(R"([{"FanControlMode":"MCU","fanSpeed":300,"RGB":"ON","RGBControlMode":"MB"}])");
        h.idle(); // the restore's pass throws; monitoring goes on
        h.then(req(3, {{"fanControlBtn", 1}, {"fanSpeed", -1}}));
        h.idle();
        h.then(req(11, {{"displayMode", 1}}));
        h.run();
        QCOMPARE(h.log.matching("fan 300").size(), 1);
        QCOMPARE(h.repliesWith(100).size(), 2);
        // The one-shot that threw ran once, sent no reply and went back to idle.
        QCOMPARE(h.log.matching("fan -1").size(), 1);
        QVERIFY(h.repliesWith(3).isEmpty());
        // And the next command is still served.
        QCOMPARE(h.savedSettings().value("displayMode").toInt(), 1);
    }

    void missingLookedUpKeysAreSavedAsNull()
    {
        Harness h;
        h.writeSettings("");
        h.idle();
        h.then(req(14));
        h.run();
        QFile f(h.w->settingsPath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QJsonObject saved = QJsonDocument::fromJson(f.readAll()).array().at(0).toObject();
        QVERIFY(saved.contains("displayMode"));
        QVERIFY(saved.value("displayMode").isNull());
        QCOMPARE(saved.value("appVersion").toString(), QStringLiteral("25.04.00"));
        QVERIFY(g_messages.contains("Invalid JSON format."));
    }
};

QTEST_GUILESS_MAIN(WorkerLoopTest)
#include "tst_worker_loop.moc"
