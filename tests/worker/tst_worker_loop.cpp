// The worker's loop on the calling thread, driven through its seams: every
// operation is a fake that records its call, every pause is recorded on the
// fake pacer's own clock, and requests are delivered at the waits between
// passes, where the scene's requests land too.

#include "fakes.h"
#include "worker/settingsfiles.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <deque>

namespace {
QStringList g_messages;
void capture(QtMsgType, const QMessageLogContext &, const QString &m) { g_messages << m; }

QVariantMap req(int function, QVariantMap extra = {})
{
    extra.insert(QStringLiteral("function"), function);
    return extra;
}
using Rows = QList<QVariantMap>;
} // namespace

class Harness {
public:
    Harness()
    {
        qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
        auto b = fakeBackends(log, std::make_unique<ScriptedPacer>(log));
        card = static_cast<FakeCard *>(b.card.get());
        gpu = static_cast<FakeGpu *>(b.gpu.get());
        maintenance = static_cast<FakeMaintenance *>(b.maintenance.get());
        pacer = static_cast<ScriptedPacer *>(b.pacer.get());
        w = std::make_unique<TestableWorker>(std::move(b));
        QObject::connect(w.get(), &GPU_WORKER::dataChanged, [this](const QVariantMap &r) {
            replies << r;
            log.add(QStringLiteral("reply %1").arg(r.value("function").toInt()));
        });
        pacer->onWait = [this](int) {
            if (steps.empty())
                return w->stopThread();
            auto step = std::move(steps.front());
            steps.pop_front();
            step();
        };
    }
    // At the next wait: deliver these requests.
    void then(const Rows &requests)
    {
        steps.push_back([this, requests] {
            for (const QVariantMap &r : requests)
                w->receiveDataFromQML(r);
        });
    }
    void idle(int waits = 1) { steps.insert(steps.end(), waits, [] {}); }
    void run() { w->runHere(); }
    void writeSettings(const QByteArray &json)
    {
        QFile f(w->settingsPath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(json);
    }
    QVariantMap saved() const
    {
        QFile f(w->settingsPath());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(f.readAll()).array().at(0).toObject().toVariantMap();
    }
    QVariantMap lastReply(int function) const
    {
        for (int i = replies.size() - 1; i >= 0; --i)
            if (replies.at(i).value("function").toInt() == function)
                return replies.at(i);
        return {};
    }
    // What the loop did after the wait of the first request delivered,
    // up to its next wait.
    QStringList handled() const
    {
        QStringList out;
        for (const QString &e : log.all().mid(deliveredAt + 1)) {
            if (e.startsWith("wait "))
                break;
            out << e;
        }
        return out;
    }
    void deliverNow(const Rows &requests)
    {
        steps.push_back([this, requests] {
            deliveredAt = log.all().size() - 1;
            deliveredClock = pacer->now;
            for (const QVariantMap &r : requests)
                w->receiveDataFromQML(r);
        });
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
    int deliveredAt = -1;
    qint64 deliveredClock = -1;
};

class WorkerLoopTest : public QObject {
    Q_OBJECT

private slots:
    void init() { g_messages.clear(); qInstallMessageHandler(capture); }
    void cleanup() { qInstallMessageHandler(nullptr); }

    // No request at all: reply 0, monitoring about every 1.1 s, and the
    // restore of the defaults 5 s after the first reply 100.
    void startUpMonitoringAndRestore()
    {
        Harness h;
        settingsfiles::writeText(h.w->markerPath(), QStringLiteral("1"));
        h.w->receiveDataFromQML(req(-1)); // the scene's first request gives way to 100
        h.idle(5);
        h.run();
        const QVariantMap r0 = h.replies.first();
        QCOMPARE(r0.value("function").toInt(), 0);
        QCOMPARE(r0.value("startGUI").toInt(), 1);
        QCOMPARE(r0.value("GPU_count").toInt(), 1);
        const QVariantMap facts = r0.value("MonitorInfoDict").toMap();
        QCOMPARE(facts.value("PsysPower").toDouble(), 150.0);
        QCOMPARE(facts.value("GPU_Utilization").toDouble(), 25.0);
        QCOMPARE(r0.value("userControlData").toMap().value("appVersion").toString(), "25.04.00");
        const QString pass = "gpu,reply 100,";
        // The scene's request woke the first wait, which goes on: nothing new.
        QCOMPARE(h.log.after("reply 0").join(','),
                 pass + "wait 1100,wait 1100," + pass + "wait 1100," + pass + "wait 1100," + pass
                     + "wait 1100," + pass + "wait 600,"
                     + "sleep 80,argb 05 fb 00 00 FE,sync 0,gpumcu 1," + pass + "wait 1100");
        QCOMPARE(h.pacer->now, 5080);
        QVERIFY(!QFile::exists(h.w->settingsPath())); // modes never save
    }

    void startUpVersionAndUpdateOffer_data()
    {
        QTest::addColumn<QByteArray>("versionFile");
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QStringList>("offered");
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("updateApp");
        QTest::newRow("file's first line") << QByteArray("25.04.00\nx\n") << QByteArray()
                                           << QStringList{"25.04.00"} << "25.04.00" << 0;
        QTest::newRow("trailing space kept") << QByteArray("1.2.3 \n") << QByteArray()
                                             << QStringList{"1.2.3 "} << "1.2.3 " << 0;
        QTest::newRow("settings, no file") << QByteArray() << QByteArray(R"([{"appVersion":"24.1"}])")
                                           << QStringList{"25.4.0"} << "24.1" << 1;
        QTest::newRow("default, two offered") << QByteArray() << QByteArray()
                                              << QStringList{"26.1", "25.04.00"} << "25.04.00" << 1;
    }
    void startUpVersionAndUpdateOffer()
    {
        QFETCH(QByteArray, versionFile);
        QFETCH(QByteArray, settings);
        QFETCH(QStringList, offered);
        QFETCH(QString, version);
        QFETCH(int, updateApp);
        Harness h;
        if (!versionFile.isEmpty())
            settingsfiles::writeText(h.w->applicationDataPath() + "/version.txt", versionFile);
        if (!settings.isEmpty())
            h.writeSettings(settings);
        QVariantList entries;
        for (const QString &v : offered)
            entries << QVariantMap{{"version", v}};
        h.maintenance->manifest = {{"software", entries}, {"other", {QVariantMap{{"version", "9"}}}}};
        h.run();
        const QVariantMap r0 = h.replies.first();
        QCOMPARE(r0.value("appVersion").toString(), version);
        QCOMPARE(r0.value("MonitorInfoDict").toMap().value("updateApp").toInt(), updateApp);
        QCOMPARE(r0.value("userControlData").toMap().value("serverVersion").toString(),
                 offered.last());
    }

    // Each one-shot command delivered once: what reaches the card, the reply,
    // what is saved, what is logged ("!" marks a line that must not appear).
    void commands_data()
    {
        QTest::addColumn<QVariantMap>("request");
        QTest::addColumn<QVariantMap>("setup");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QVariantMap>("reply");
        QTest::addColumn<QVariantMap>("saved"); // {"none": true}: no file
        QTest::addColumn<QStringList>("logs");
        const QVariantMap none{{"none", true}};
        const QVariantMap lighting{{"RGB", "ON"}, {"displayMode", 1}, {"effect", 10},
                                   {"r_hex", "ff"}, {"g_hex", "80"}, {"b_hex", "00"},
                                   {"speed", "FF"}, {"ARGBSliderSpeed", 4}};
        const QVariantMap black{{"effect", 3}, {"r_hex", "00"}, {"g_hex", "00"},
                                {"b_hex", "00"}, {"speed", "00"}};
        const QStringList partial{"sync 0", "sleep 80", "argb 03 00 00 00 00", "readEffectSpeed",
                                  "reply 1"};
        const QString inf = QCoreApplication::applicationDirPath()
            + "/NF_I2CPeripheralDriver/NfI2cTestDrv.inf";
        QTest::newRow("lighting stored")
            << req(1, lighting) << QVariantMap{}
            << QStringList{"sync 0", "sleep 80", "argb 0A ff 80 00 FF", "reply 1"}
            << QVariantMap{{"resultCheck_Switch_MCU_MB", 0}, {"resultCheck_ARGB_Control", 0},
                           {"GPU_count", 1}}
            << QVariantMap{{"argb_effect", "10"}, {"r_hex", "ff"}, {"speed", "FF"},
                           {"ARGBSliderSpeed", 4}, {"displayMode", 1}, {"RGBControlMode", "MCU"}}
            << QStringList{};
        QTest::newRow("effect out of range")
            << req(1, {{"RGB", "OFF"}, {"effect", 14}, {"r_hex", "11"}}) << QVariantMap{}
            << QStringList{"sync 0"} << QVariantMap{}
            << QVariantMap{{"RGB", "OFF"}, {"r_hex", "fb"}} << QStringList{};
        QTest::newRow("partial, card has the effect")
            << req(1, black) << QVariantMap{{"argb", 7}, {"sync", 4}, {"effectSpeed", "0300"}}
            << partial
            << QVariantMap{{"resultCheck_ARGB_Control", 0}, {"resultCheck_Switch_MCU_MB", 1}}
            << QVariantMap{} << QStringList{"rgbEffect: 3"};
        QTest::newRow("partial, card has another effect")
            << req(1, black) << QVariantMap{{"argb", 7}, {"effectSpeed", "0500"}} << partial
            << QVariantMap{{"resultCheck_ARGB_Control", 1}} << QVariantMap{} << QStringList{};
        QTest::newRow("partial, nothing read")
            << req(1, black) << QVariantMap{{"argb", 7}, {"effectSpeed", ""}} << partial
            << QVariantMap{{"resultCheck_ARGB_Control", 1}} << QVariantMap{}
            << QStringList{"rgbEffect: 0"};
        QTest::newRow("lighting off keeps colour")
            << req(13, {{"RGB", "OFF"}, {"effect", 1}, {"r_hex", "00"}, {"g_hex", "00"},
                        {"b_hex", "00"}, {"speed", "02"}, {"ARGBSliderSpeed", 1}})
            << QVariantMap{} << QStringList{"sync 0", "sleep 80", "argb 01 00 00 00 02", "reply 13"}
            << QVariantMap{{"resultCheck_ARGB_Control", 0}}
            << QVariantMap{{"RGB", "OFF"}, {"r_hex", "fb"}, {"speed", "FE"}, {"argb_effect", "5"},
                           {"ARGBSliderSpeed", 5}}
            << QStringList{};
        QTest::newRow("fan to the card") << req(2, {{"controlMode", 0}}) << QVariantMap{}
                                         << QStringList{"gpumcu 0", "reply 2"}
                                         << QVariantMap{{"resultCheck", 0}}
                                         << QVariantMap{{"FanControlMode", "MCU"}}
                                         << QStringList{"switch to MCU successful"};
        QTest::newRow("fan switch fails") << req(2, {{"controlMode", 0}})
                                          << QVariantMap{{"gpumcu", -2}}
                                          << QStringList{"gpumcu 0", "reply 2"}
                                          << QVariantMap{{"resultCheck", 1}}
                                          << QVariantMap{{"FanControlMode", "GPU"}} << QStringList{};
        QTest::newRow("fan duty") << req(3, {{"fanControlBtn", 2}, {"fanSpeed", 50}})
                                  << QVariantMap{} << QStringList{"gpumcu 0", "fan 50", "reply 3"}
                                  << QVariantMap{{"fanSpeedSetting", 50}, {"resultCheck", 0}}
                                  << QVariantMap{{"fanSpeed", 50}, {"fanControlBtn", 2}}
                                  << QStringList{};
        QTest::newRow("fan duty fails") << req(3, {{"fanControlBtn", 4}, {"fanSpeed", 75}})
                                        << QVariantMap{{"fan", 2}}
                                        << QStringList{"gpumcu 0", "fan 75", "reply 3"}
                                        << QVariantMap{{"fanSpeedSetting", 75}, {"resultCheck", 1}}
                                        << QVariantMap{{"fanSpeed", 100}, {"fanControlBtn", 4}}
                                        << QStringList{};
        QTest::newRow("read fan") << req(4) << QVariantMap{} << QStringList{"readFanPwm"}
                                  << QVariantMap{} << QVariantMap{}
                                  << QStringList{"FAN PWM: 1234 rpm"};
        QTest::newRow("read colour") << req(5, {{"readMode", 1}}) << QVariantMap{}
                                     << QStringList{"readArgbValue 1"} << QVariantMap{}
                                     << QVariantMap{}
                                     << QStringList{"r_color: 17", "g_color: 34", "b_color: 51"};
        QTest::newRow("read colour, short") << req(5, {{"readMode", 2}})
                                            << QVariantMap{{"argbValue", "0001"}}
                                            << QStringList{"readArgbValue 2"} << QVariantMap{}
                                            << QVariantMap{} << QStringList{"!r_color: 1"};
        QTest::newRow("read effect") << req(6) << QVariantMap{} << QStringList{"readEffectSpeed"}
                                     << QVariantMap{} << QVariantMap{}
                                     << QStringList{"rgbEffect: 5", "effectSpeed: FE",
                                                    "effectSpeed int: 5"};
        QTest::newRow("read effect, unknown speed")
            << req(6) << QVariantMap{{"effectSpeed", "0B33"}} << QStringList{"readEffectSpeed"}
            << QVariantMap{} << QVariantMap{}
            << QStringList{"rgbEffect: 11", "effectSpeed: 33", "effectSpeed int: -1"};
        QTest::newRow("fan to the GPU")
            << req(7) << QVariantMap{} << QStringList{"gpumcu 1"}
            << QVariantMap{} << QVariantMap{{"FanControlMode", "GPU"}} << QStringList{};
        QTest::newRow("lighting to the board")
            << req(8) << QVariantMap{} << QStringList{"sync 1", "readSyncCable", "reply 8"}
            << QVariantMap{{"resultCheck", 0}}
            << QVariantMap{{"RGBControlMode", "MB"}, {"RGB", "ON"}}
            << QStringList{"outputArray[0]: 1", "outputArray[1]: 0"};
        QTest::newRow("lighting back") << req(9) << QVariantMap{{"sync", 4}}
                                       << QStringList{"sync 0", "readSyncCable"} << QVariantMap{}
                                       << QVariantMap{{"RGBControlMode", "MCU"}} << QStringList{};
        QTest::newRow("refresh") << req(10) << QVariantMap{}
                                 << QStringList{"sleep 1000", "gpu", "reply 10"}
                                 << QVariantMap{{"GPU_count", 1}} << QVariantMap{}
                                 << QStringList{};
        QTest::newRow("theme") << req(11, {{"displayMode", 1}}) << QVariantMap{} << QStringList{}
                               << QVariantMap{} << QVariantMap{{"displayMode", 1}}
                               << QStringList{};
        QTest::newRow("save only") << req(14) << QVariantMap{} << QStringList{} << QVariantMap{}
                                   << QVariantMap{} << QStringList{};
        QTest::newRow("nothing") << req(15) << QVariantMap{} << QStringList{} << QVariantMap{}
                                 << none << QStringList{};
        QTest::newRow("unknown code") << req(50) << QVariantMap{} << QStringList{}
                                      << QVariantMap{} << none << QStringList{};
        for (bool ok : {true, false})
            QTest::newRow(ok ? "driver reinstall" : "driver reinstall fails")
                << req(16) << QVariantMap{{"driverOk", ok}}
                << QStringList{"driver " + inf, "reply 16"}
                << QVariantMap{{"resultCheck", ok ? 0 : 1}} << none << QStringList{};
    }
    void commands()
    {
        QFETCH(QVariantMap, request);
        QFETCH(QVariantMap, setup);
        QFETCH(QStringList, events);
        QFETCH(QVariantMap, reply);
        QFETCH(QVariantMap, saved);
        QFETCH(QStringList, logs);
        Harness h;
        FakeCard &c = *h.card;
        c.argbResult = setup.value("argb", c.argbResult).toInt();
        c.syncResult = setup.value("sync", c.syncResult).toInt();
        c.gpuMcuResult = setup.value("gpumcu", c.gpuMcuResult).toInt();
        c.fanResult = setup.value("fan", c.fanResult).toInt();
        if (setup.contains("effectSpeed"))
            c.effectSpeed = QByteArray::fromHex(setup.value("effectSpeed").toByteArray());
        if (setup.contains("argbValue"))
            c.argbValue = QByteArray::fromHex(setup.value("argbValue").toByteArray());
        h.maintenance->driverOk = setup.value("driverOk", true).toBool();
        h.deliverNow({request});
        h.run();
        QCOMPARE(h.handled(), events);
        const int code = request.value("function").toInt();
        for (auto it = reply.cbegin(); it != reply.cend(); ++it)
            QCOMPARE(h.lastReply(code).value(it.key()), it.value());
        QCOMPARE(QFile::exists(h.w->settingsPath()), !saved.contains("none"));
        const QVariantMap file = h.saved();
        for (auto it = saved.cbegin(); it != saved.cend() && it.key() != "none"; ++it)
            QCOMPARE(file.value(it.key()).toString(), it.value().toString());
        for (const QString &line : logs) {
            if (line.startsWith('!'))
                QVERIFY2(!g_messages.contains(line.mid(1)), qPrintable(line));
            else
                QVERIFY2(g_messages.contains(line), qPrintable(line));
        }
    }

    // Requests that meet in the slot: delivered together at one wait, or
    // while a fan switch is under way. No command is lost to a later mode.
    void requestsInTheSlot_data()
    {
        QTest::addColumn<Rows>("requests");
        QTest::addColumn<Rows>("during");
        QTest::addColumn<QStringList>("events");
        const auto light = [](int e) {
            return req(1, {{"effect", e}, {"r_hex", "00"}, {"g_hex", "00"}, {"b_hex", "00"},
                           {"speed", "00"}});
        };
        const auto duty = [](int d) { return req(3, {{"fanSpeed", d}}); };
        const QStringList fan50{"gpumcu 0", "fan 50", "reply 3"};
        QTest::newRow("page switch after Apply") << Rows{duty(50), req(-1)} << Rows{} << fan50;
        QTest::newRow("newer lighting wins") << Rows{light(2), light(3)} << Rows{}
                                             << QStringList{"sync 0", "argb 03 00 00 00 00", "reply 1"};
        QTest::newRow("newer duty wins") << Rows{duty(75), duty(50)} << Rows{} << fan50;
        QTest::newRow("order kept, replaced one last")
            << Rows{light(2), duty(50), light(3)} << Rows{}
            << fan50 + QStringList{"sync 0", "argb 03 00 00 00 00", "reply 1"};
        QTest::newRow("latest mode wins") << Rows{req(100), req(101)} << Rows{}
                                          << QStringList{"reply 101"};
        QTest::newRow("monitoring after a command") << Rows{duty(50), req(100)} << Rows{}
                                                    << fan50 + QStringList{"gpu", "reply 100"};
        QTest::newRow("7 leaves monitoring") << Rows{req(7)} << Rows{}
                                             << QStringList{"gpumcu 1", "gpu", "reply 100"};
        QTest::newRow("a newer mode outlasts 7") << Rows{req(7), req(101)} << Rows{}
                                                 << QStringList{"gpumcu 1", "reply 101"};
        QTest::newRow("mode sent during a command") << Rows{req(2)} << Rows{req(101)}
                                                    << QStringList{"gpumcu 0", "reply 2", "reply 101"};
        QTest::newRow("command sent during a command")
            << Rows{req(2)} << Rows{req(9)}
            << QStringList{"gpumcu 0", "reply 2", "sync 0", "readSyncCable"};
    }
    void requestsInTheSlot()
    {
        QFETCH(Rows, requests);
        QFETCH(Rows, during);
        QFETCH(QStringList, events);
        Harness h;
        settingsfiles::writeText(h.w->markerPath(), QStringLiteral("1"));
        h.idle(5);
        h.steps.push_back([&h, during] {
            h.card->onSwitch = [&h, during] {
                for (const QVariantMap &r : during)
                    h.w->receiveDataFromQML(r);
            };
        });
        h.deliverNow(requests);
        h.idle();
        h.run();
        QStringList got;
        for (const QString &e : h.log.all().mid(h.deliveredAt + 1))
            if (!e.startsWith("wait ") && !e.startsWith("sleep "))
                got << e;
        QCOMPARE(got, events);
    }

    // A request is taken the moment it arrives: the wait it lands in ends
    // there and then, and one that arrives during a pass skips the next wait.
    void requestTakenAtOnce_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("command"); // delivered first; 9 arrives inside it
        QTest::addColumn<QStringList>("events");
        const QStringList nine{"sync 0", "readSyncCable"};
        QTest::newRow("idle") << -1 << 9 << nine;
        QTest::newRow("monitoring") << 100 << 9 << nine;
        QTest::newRow("in the tray") << 101 << 9 << nine;
        QTest::newRow("during a command") << -1 << 2 << QStringList{"gpumcu 0", "reply 2"} + nine;
    }
    void requestTakenAtOnce()
    {
        QFETCH(int, mode);
        QFETCH(int, command);
        QFETCH(QStringList, events);
        Harness h;
        h.then({req(mode)});
        h.card->onSwitch = [&h] { h.w->receiveDataFromQML(req(9)); };
        h.deliverNow({req(command)});
        h.run();
        QCOMPARE(h.handled(), events);
        QCOMPARE(h.pacer->now, h.deliveredClock); // not one millisecond waited
    }

    void updateRequest_data()
    {
        QTest::addColumn<QStringList>("versions");
        QTest::addColumn<bool>("downloadOk");
        QTest::addColumn<QStringList>("expected");
        const auto one = [](const QString &v, bool installs) {
            const QString path = "/downloads/TARVELL_VORN_" + v;
            return QStringList{"reply 12", "download http://h/" + v + " -> " + path, "reply 12",
                               "reply 12"}
                + (installs ? QStringList{"install " + path} : QStringList{});
        };
        QTest::newRow("same version") << QStringList{"25.04.00"} << true << QStringList{"reply 12"};
        QTest::newRow("two, in order") << QStringList{"26.1", "26.2"} << true
                                       << one("26.1", true) + one("26.2", true);
        QTest::newRow("same one skipped") << QStringList{"25.04.00", "26.2"} << true
                                          << one("26.2", true);
        QTest::newRow("failed download not started") << QStringList{"26.1"} << false
                                                     << one("26.1", false) + QStringList{"reply 12"};
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
        h.steps.push_back([&h, versions] {
            QVariantList entries;
            for (const QString &v : versions)
                entries << QVariantMap{{"version", v}, {"downloadLink", "http://h/" + v}};
            h.maintenance->manifest.insert("software", entries);
            h.w->receiveDataFromQML(req(12));
        });
        h.run();
        QStringList got = h.log.after("manifest").filter(QRegularExpression("^(reply|download|install)"));
        QCOMPARE(got, expected);
        if (versions.last() != "25.04.00") {
            const QVariantMap last = h.lastReply(12);
            QCOMPARE(last.value("progress").toInt(), downloadOk ? 100 : 0);
            QCOMPARE(last.value("new_version").toString(), versions.last());
            QCOMPARE(last.value("InstallApp").toInt(), 0);
        }
        QVERIFY(QFile::exists(h.w->settingsPath()));
    }

    // The saved choices reach the card 5 s after the first reply 100; the
    // driver counts as missing only when two operations could not open it.
    void startUpRestore_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<int>("failing"); // operations that cannot open the driver
        QTest::addColumn<QStringList>("expected");
        const QByteArray mcu = R"({"RGB":"ON","RGBControlMode":"MCU","argb_effect":12,"r_hex":"aa",)"
                               R"("g_hex":"bb","b_hex":"cc","speed":"02","FanControlMode":"GPU"})";
        QTest::newRow("lighting off")
            << QByteArray(R"({"RGB":"OFF","RGBControlMode":"MCU","argb_effect":"7","speed":"01","FanControlMode":"MCU","fanSpeed":75})")
            << 0 << QStringList{"sync 0", "argb 01 00 00 00 01", "gpumcu 0", "sleep 80", "fan 75"};
        QTest::newRow("card drives the lighting")
            << mcu << 0 << QStringList{"sleep 80", "argb 0C aa bb cc 02", "sync 0", "gpumcu 1"};
        QTest::newRow("bad effect and fan mode repaired")
            << QByteArray(R"({"RGB":"ON","RGBControlMode":"MCU","argb_effect":0,"r_hex":"aa","g_hex":"bb","b_hex":"cc","speed":"02","FanControlMode":"x"})")
            << 0 << QStringList{"sleep 80", "argb 05 aa bb cc 02", "sync 0", "gpumcu 1"};
        QTest::newRow("board drives the lighting")
            << QByteArray(R"({"RGB":"ON","RGBControlMode":"MB","FanControlMode":"GPU"})") << 0
            << QStringList{"sync 1", "gpumcu 1"};
        QTest::newRow("nothing known") << QByteArray(R"({"RGB":"ON"})") << 0 << QStringList{};
        QTest::newRow("one failure") << mcu << 1
                                     << QStringList{"sleep 80", "argb 0C aa bb cc 02", "sync 0", "gpumcu 1"};
        QTest::newRow("two failures")
            << mcu << 2 << QStringList{"sleep 80", "argb 0C aa bb cc 02", "sync 0", "gpumcu 1", "reply -2"};
    }
    void startUpRestore()
    {
        QFETCH(QByteArray, settings);
        QFETCH(int, failing);
        QFETCH(QStringList, expected);
        Harness h;
        h.writeSettings(settings);
        h.card->argbResult = failing >= 1 ? -2 : 9;
        h.card->gpuMcuResult = failing >= 2 ? -2 : 5;
        h.idle(5);
        h.run();
        const QStringList after = h.log.after("wait 600");
        QCOMPARE(after.mid(0, after.indexOf("gpu")), expected);
        QCOMPARE(g_messages.contains("ERROR: 2"), failing == 2);
    }

    // After a resume, or when a refresh finds the card that was missing, the
    // card gets the saved choices again, as the start-up restore sends them.
    void savedChoicesApplyAgain_data()
    {
        QTest::addColumn<int>("cardsAtStart");
        QTest::addColumn<bool>("resume");
        QTest::addColumn<bool>("applied");
        QTest::newRow("resume") << 1 << true << true;
        QTest::newRow("refresh finds the card") << 0 << false << true;
        QTest::newRow("refresh, card was there") << 1 << false << false;
    }
    void savedChoicesApplyAgain()
    {
        QFETCH(int, cardsAtStart);
        QFETCH(bool, resume);
        QFETCH(bool, applied);
        Harness h;
        h.writeSettings(R"({"RGB":"ON","RGBControlMode":"MCU","argb_effect":12,"r_hex":"aa","g_hex":"bb","b_hex":"cc","speed":"02","FanControlMode":"MCU","fanSpeed":75})");
        h.gpu->cards = cardsAtStart;
        h.idle(6); // through the start-up restore
        h.steps.push_back([&] {
            h.log.add("trigger");
            h.gpu->cards = 1;
            if (resume)
                h.w->reapplySavedChoices();
            else
                h.w->receiveDataFromQML(req(10));
        });
        h.idle();
        h.run();
        const QStringList restore{"sleep 80", "argb 0C aa bb cc 02", "sync 0", "gpumcu 0", "sleep 80", "fan 75"};
        const QStringList startUp = h.log.after("wait 600");
        QCOMPARE(startUp.mid(0, restore.size()), restore);
        QStringList again = h.log.after("trigger").filter(QRegularExpression("^(sleep|argb|sync|gpumcu|fan) "));
        again.removeAll("sleep 1000"); // the refresh's own pause
        QCOMPARE(again, applied ? restore : QStringList{});
    }

    void markerInTheTray_data()
    {
        QTest::addColumn<QByteArray>("marker");
        QTest::addColumn<bool>("shows");
        QTest::newRow("asked") << QByteArray(" 1 \n") << true;
        QTest::newRow("not asked") << QByteArray("0") << false;
        QTest::newRow("unreadable") << QByteArray() << false;
        QTest::newRow("garbage") << QByteArray("2") << false;
    }
    void markerInTheTray()
    {
        QFETCH(QByteArray, marker);
        QFETCH(bool, shows);
        Harness h;
        if (!marker.isEmpty())
            settingsfiles::writeText(h.w->markerPath(), marker);
        h.then({req(101)});
        h.idle(3);
        h.run();
        QCOMPARE(h.lastReply(101).value("startGUI").toInt(), shows ? 1 : 0);
        // Until it asks, one marker check a pass at the monitoring rate (the
        // file's changes wake the loop at once; nothing reports them here).
        // The first wait is the monitoring pass's.
        QCOMPARE(h.log.matching("wait 1100").size(), shows ? 1 : 5);
        if (shows)
            QCOMPARE(settingsfiles::readMarker(h.w->markerPath()), 0);
    }

    void stopDuringAWaitEndsTheLoop()
    {
        Harness h;
        h.run(); // stopped at the first wait
        QCOMPARE(h.log.all().last(), QStringLiteral("wait 1100"));
        QVERIFY(g_messages.last().startsWith("Stop Worker ThreadID: "));
    }

    void exceptionInAPassKeepsTheWorkerServing()
    {
        Harness h;
        h.writeSettings(R"([{"FanControlMode":"MCU","fanSpeed":300,"RGB":"ON","RGBControlMode":"MB"}])");
        h.idle(5); // the restore throws; monitoring goes on
        h.then({req(3, {{"fanSpeed", -1}})});
        h.then({req(11, {{"displayMode", 1}})});
        h.run();
        QCOMPARE(h.log.matching("fan 100").size(), 1); // 300 repaired before the restore
        QCOMPARE(h.log.matching("fan -1").size(), 1); // ran once, no reply
        QVERIFY(h.lastReply(3).isEmpty());
        QCOMPARE(h.saved().value("displayMode").toInt(), 1);
    }

    void missingLookedUpKeysAreSavedAsNull()
    {
        Harness h;
        h.writeSettings("");
        h.then({req(14)});
        h.run();
        const QVariantMap saved = h.saved();
        QVERIFY(saved.contains("displayMode") && saved.value("displayMode").isNull());
        QCOMPARE(saved.value("appVersion").toString(), QStringLiteral("25.04.00"));
    }
};

QTEST_GUILESS_MAIN(WorkerLoopTest)
#include "tst_worker_loop.moc"
