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
QVariantMap js(const char *json) { return QJsonDocument::fromJson(json).object().toVariantMap(); }
QStringList ls(const QString &s) { return s.isEmpty() ? QStringList() : s.split('|'); }
QVariantMap req(int function, QVariantMap extra = {})
{
    extra.insert(QStringLiteral("function"), function);
    return extra;
}
using Rows = QList<QVariantMap>;
const char kMcuSettings[] = R"({"RGB":"ON","RGBControlMode":"MCU","argb_effect":12,"r_hex":"aa",
    "g_hex":"bb","b_hex":"cc","speed":"02","FanControlMode":"MCU","fanSpeed":75})";
const QString kMcuRestore = "sleep 80|argb 0C aa bb cc 02|sync 0|gpumcu 0|sleep 80|fan 75";
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
    void idle(int waits = 1) { steps.insert(steps.end(), waits, [] {}); }
    // At the next wait: deliver these requests and mark where.
    void deliver(const Rows &requests)
    {
        steps.push_back([this, requests] {
            deliveredAt = log.all().size() - 1;
            deliveredClock = pacer->now;
            for (const QVariantMap &r : requests)
                w->receiveDataFromQML(r);
        });
    }
    void run() { w->runHere(); }
    void writeSettings(const QByteArray &json) { settingsfiles::writeText(w->settingsPath(), json); }
    QVariantMap saved() const
    {
        QFile f(w->settingsPath());
        f.open(QIODevice::ReadOnly);
        return QJsonDocument::fromJson(f.readAll()).array().at(0).toObject().toVariantMap();
    }
    QVariantMap lastReply(int function) const
    {
        auto it = std::find_if(replies.rbegin(), replies.rend(),
                               [function](const QVariantMap &r) { return r.value("function") == function; });
        return it == replies.rend() ? QVariantMap() : *it;
    }
    // What the loop did after the delivering wait, up to its next wait.
    QStringList handled() const
    {
        const QStringList e = log.all().mid(deliveredAt + 1);
        auto end = std::find_if(e.begin(), e.end(), [](const QString &x) { return x.startsWith("wait "); });
        return QStringList(e.begin(), end);
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

    // No request at all: reply 0, monitoring about every 1.1 s, and the
    // restore of the defaults 5 s after the first reply 100.
    void startUpMonitoringAndRestore()
    {
        Harness h;
        settingsfiles::writeText(h.w->markerPath(), QStringLiteral("1"));
        h.w->receiveDataFromQML(req(-1)); // the scene's first request gives way to 100
        h.idle(5);
        h.run();
        const QVariantMap r0 = h.replies.first(), facts = r0.value("MonitorInfoDict").toMap();
        QCOMPARE((QList<int>{r0.value("function").toInt(), r0.value("startGUI").toInt(),
                             r0.value("GPU_count").toInt(), facts.value("PsysPower").toInt(),
                             facts.value("GPU_Utilization").toInt()}), (QList<int>{0, 1, 1, 150, 25}));
        const QString pass = "gpu,reply 100,";
        // The scene's request woke the first wait, which goes on: nothing new.
        QCOMPARE(h.log.after("reply 0").join(','),
                 pass + "wait 1100,wait 1100," + pass + "wait 1100," + pass + "wait 1100," + pass
                     + "wait 1100," + pass + "wait 600,sleep 80,argb 05 fb 00 00 FE,sync 0,gpumcu 1,"
                     + pass + "wait 1100");
        QCOMPARE(h.pacer->now, 5080);
        QVERIFY(!QFile::exists(h.w->settingsPath())); // modes never save
    }

    // Each one-shot command once: what reaches the card, the reply, what is
    // saved ("none": no file), what is logged ("!" marks a line that must not
    // appear).
    void commands_data()
    {
        QTest::addColumn<QVariantMap>("request");
        QTest::addColumn<QVariantMap>("setup");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QVariantMap>("reply");
        QTest::addColumn<QVariantMap>("saved");
        QTest::addColumn<QStringList>("logs");
        const auto row = [](const char *name, const char *request, const char *setup,
                            const QString &events, const char *reply, const char *saved,
                            const QString &logs = {}) {
            QTest::newRow(name) << js(request) << js(setup) << ls(events) << js(reply) << js(saved) << ls(logs);
        };
        const char *black = R"({"function":1,"effect":3,"r_hex":"00","g_hex":"00","b_hex":"00","speed":"00"})";
        const QString partial = "sync 0|sleep 80|argb 03 00 00 00 00|readEffectSpeed|reply 1";
        row("lighting stored", R"({"function":1,"RGB":"ON","displayMode":1,"effect":10,"r_hex":"ff",
            "g_hex":"80","b_hex":"00","speed":"FF","ARGBSliderSpeed":4})", "{}",
            "sync 0|sleep 80|argb 0A ff 80 00 FF|reply 1",
            R"({"resultCheck_Switch_MCU_MB":0,"resultCheck_ARGB_Control":0,"GPU_count":1})",
            R"({"argb_effect":"10","r_hex":"ff","speed":"FF","ARGBSliderSpeed":4,"displayMode":1,"RGBControlMode":"MCU"})");
        row("effect out of range", R"({"function":1,"RGB":"OFF","effect":14,"r_hex":"11"})", "{}",
            "sync 0", "{}", R"({"RGB":"OFF","r_hex":"fb"})");
        row("partial, card has the effect", black, R"({"argb":7,"sync":4,"effectSpeed":"0300"})", partial,
            R"({"resultCheck_ARGB_Control":0,"resultCheck_Switch_MCU_MB":1})", "{}", "rgbEffect: 3");
        row("partial, nothing read", black, R"({"argb":7,"effectSpeed":""})", partial,
            R"({"resultCheck_ARGB_Control":1})", "{}", "rgbEffect: 0");
        row("lighting off keeps colour", R"({"function":13,"RGB":"OFF","effect":1,"r_hex":"00",
            "g_hex":"00","b_hex":"00","speed":"02","ARGBSliderSpeed":1})", "{}",
            "sync 0|sleep 80|argb 01 00 00 00 02|reply 13", R"({"resultCheck_ARGB_Control":0})",
            R"({"RGB":"OFF","r_hex":"fb","speed":"FE","argb_effect":"5","ARGBSliderSpeed":5})");
        row("fan to the card", R"({"function":2,"controlMode":0})", "{}", "gpumcu 0|reply 2",
            R"({"resultCheck":0})", R"({"FanControlMode":"MCU"})", "switch to MCU successful");
        row("fan switch fails", R"({"function":2,"controlMode":0})", R"({"gpumcu":-2})",
            "gpumcu 0|reply 2", R"({"resultCheck":1})", R"({"FanControlMode":"GPU"})");
        row("fan duty", R"({"function":3,"fanControlBtn":2,"fanSpeed":50})", "{}",
            "gpumcu 0|fan 50|reply 3", R"({"fanSpeedSetting":50,"resultCheck":0})",
            R"({"fanSpeed":50,"fanControlBtn":2})");
        row("fan duty fails", R"({"function":3,"fanControlBtn":4,"fanSpeed":75})", R"({"fan":2})",
            "gpumcu 0|fan 75|reply 3", R"({"fanSpeedSetting":75,"resultCheck":1})",
            R"({"fanSpeed":100,"fanControlBtn":4})");
        row("read fan", R"({"function":4})", "{}", "readFanPwm", "{}", "{}", "FAN PWM: 1234 rpm");
        row("read colour", R"({"function":5,"readMode":1})", "{}", "readArgbValue 1", "{}", "{}",
            "r_color: 17|g_color: 34|b_color: 51");
        row("read colour, short", R"({"function":5,"readMode":2})", R"({"argbValue":"0001"})",
            "readArgbValue 2", "{}", "{}", "!r_color: 1");
        row("read effect", R"({"function":6})", "{}", "readEffectSpeed", "{}", "{}",
            "rgbEffect: 5|effectSpeed: FE|effectSpeed int: 5");
        row("read effect, unknown speed", R"({"function":6})", R"({"effectSpeed":"0B33"})",
            "readEffectSpeed", "{}", "{}", "rgbEffect: 11|effectSpeed: 33|effectSpeed int: -1");
        row("fan to the GPU", R"({"function":7})", "{}", "gpumcu 1", "{}", R"({"FanControlMode":"GPU"})");
        row("lighting to the board", R"({"function":8})", "{}", "sync 1|readSyncCable|reply 8",
            R"({"resultCheck":0})", R"({"RGBControlMode":"MB","RGB":"ON"})",
            "outputArray[0]: 1|outputArray[1]: 0");
        row("lighting back", R"({"function":9})", R"({"sync":4})", "sync 0|readSyncCable", "{}",
            R"({"RGBControlMode":"MCU"})");
        row("refresh", R"({"function":10})", "{}", "sleep 1000|gpu|reply 10", R"({"GPU_count":1})", "{}");
        row("theme", R"({"function":11,"displayMode":1})", "{}", "", "{}", R"({"displayMode":1})");
        row("save only", R"({"function":14})", "{}", "", "{}", "{}");
        row("nothing", R"({"function":15})", "{}", "", "{}", R"({"none":1})");
        row("unknown code", R"({"function":50})", "{}", "", "{}", R"({"none":1})");
        const QString driver = "driver " + QCoreApplication::applicationDirPath()
            + "/NF_I2CPeripheralDriver/NfI2cTestDrv.inf|reply 16";
        row("driver reinstall", R"({"function":16})", "{}", driver, R"({"resultCheck":0})", R"({"none":1})");
        row("driver reinstall fails", R"({"function":16})", R"({"driverOk":false})", driver,
            R"({"resultCheck":1})", R"({"none":1})");
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
        for (auto [key, value] : {std::pair{"argb", &c.argbResult}, {"sync", &c.syncResult},
                                  {"gpumcu", &c.gpuMcuResult}, {"fan", &c.fanResult}})
            *value = setup.value(key, *value).toInt();
        c.effectSpeed = QByteArray::fromHex(setup.value("effectSpeed", c.effectSpeed.toHex()).toByteArray());
        c.argbValue = QByteArray::fromHex(setup.value("argbValue", c.argbValue.toHex()).toByteArray());
        h.maintenance->driverOk = setup.value("driverOk", true).toBool();
        h.deliver({request});
        h.run();
        QCOMPARE(h.handled(), events);
        const QVariantMap got = h.lastReply(request.value("function").toInt());
        for (auto it = reply.cbegin(); it != reply.cend(); ++it)
            QCOMPARE(got.value(it.key()).toInt(), it.value().toInt());
        QCOMPARE(QFile::exists(h.w->settingsPath()), !saved.contains("none"));
        const QVariantMap file = h.saved();
        for (auto it = saved.cbegin(); it != saved.cend() && it.key() != "none"; ++it)
            QCOMPARE(file.value(it.key()).toString(), it.value().toString());
        for (const QString &line : logs)
            QVERIFY2(g_messages.contains(line.mid(line.startsWith('!'))) != line.startsWith('!'),
                     qPrintable(line));
    }

    // Requests that meet in the slot: delivered together at one wait, or
    // while a fan switch is under way. No command is lost to a later mode.
    void requestsInTheSlot_data()
    {
        QTest::addColumn<Rows>("requests");
        QTest::addColumn<Rows>("during");
        QTest::addColumn<QStringList>("events");
        const auto light = [](int e) {
            return req(1, {{"effect", e}, {"r_hex", "0"}, {"g_hex", "0"}, {"b_hex", "0"}, {"speed", "0"}});
        };
        const auto duty = [](int d) { return req(3, {{"fanSpeed", d}}); };
        const QString fan50 = "gpumcu 0|fan 50|reply 3", lit3 = "sync 0|argb 03 0 0 0 0|reply 1";
        QTest::newRow("page switch after Apply") << Rows{duty(50), req(-1)} << Rows{} << ls(fan50);
        QTest::newRow("newer lighting wins") << Rows{light(2), light(3)} << Rows{} << ls(lit3);
        QTest::newRow("order kept, replaced one last")
            << Rows{light(2), duty(50), light(3)} << Rows{} << ls(fan50 + "|" + lit3);
        QTest::newRow("latest mode wins") << Rows{req(100), req(101)} << Rows{} << ls("reply 101");
        QTest::newRow("monitoring after a command")
            << Rows{duty(50), req(100)} << Rows{} << ls(fan50 + "|gpu|reply 100");
        QTest::newRow("7 leaves monitoring") << Rows{req(7)} << Rows{} << ls("gpumcu 1|gpu|reply 100");
        QTest::newRow("a newer mode outlasts 7") << Rows{req(7), req(101)} << Rows{} << ls("gpumcu 1|reply 101");
        QTest::newRow("mode sent during a command") << Rows{req(2)} << Rows{req(101)}
                                                    << ls("gpumcu 0|reply 2|reply 101");
        QTest::newRow("command sent during a command") << Rows{req(2)} << Rows{req(9)}
                                                       << ls("gpumcu 0|reply 2|sync 0|readSyncCable");
    }
    void requestsInTheSlot()
    {
        QFETCH(Rows, requests);
        QFETCH(Rows, during);
        QFETCH(QStringList, events);
        Harness h;
        settingsfiles::writeText(h.w->markerPath(), QStringLiteral("1"));
        h.idle(5); // past the start-up restore
        h.steps.push_back([&] { h.card->onSwitch = [&] { for (auto &r : during) h.w->receiveDataFromQML(r); }; });
        h.deliver(requests);
        h.idle();
        h.run();
        QCOMPARE(h.log.all().mid(h.deliveredAt + 1).filter(QRegularExpression("^(?!wait |sleep )")), events);
    }

    // A request is taken the moment it arrives: the wait it lands in ends
    // there and then (idle, monitoring, in the tray), and one that arrives
    // during a command skips the next wait.
    void requestTakenAtOnce()
    {
        for (int mode : {-1, 100, 101, 2}) {
            Harness h;
            h.deliver({req(mode == 2 ? -1 : mode)});
            h.card->onSwitch = [&h] { h.w->receiveDataFromQML(req(9)); };
            h.deliver({req(mode == 2 ? 2 : 9)});
            h.run();
            QCOMPARE(h.handled(), ls(QString(mode == 2 ? "gpumcu 0|reply 2|" : "") + "sync 0|readSyncCable"));
            QCOMPARE(h.pacer->now, h.deliveredClock); // not one millisecond waited
        }
    }

    // The saved choices reach the card 5 s after the first reply 100, and
    // again after a resume or when a refresh finds the card that was missing.
    // The driver counts as missing only when two operations could not open it.
    void restore_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<int>("failing"); // operations that cannot open the driver
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<QStringList>("expected");
        const QByteArray mcu(kMcuSettings);
        QTest::newRow("lighting off") << QByteArray(R"({"RGB":"OFF","argb_effect":"7","speed":"01","FanControlMode":"GPU"})")
                                      << 0 << "" << ls("sync 0|argb 01 00 00 00 01|gpumcu 1");
        QTest::newRow("card drives the lighting") << mcu << 0 << "" << ls(kMcuRestore);
        QTest::newRow("bad effect and fan mode repaired")
            << QByteArray(R"({"RGB":"ON","RGBControlMode":"MCU","argb_effect":0,"r_hex":"aa","g_hex":"bb","b_hex":"cc","speed":"02","FanControlMode":"x"})")
            << 0 << "" << ls("sleep 80|argb 05 aa bb cc 02|sync 0|gpumcu 1");
        QTest::newRow("board drives the lighting")
            << QByteArray(R"({"RGB":"ON","RGBControlMode":"MB","FanControlMode":"GPU"})") << 0 << ""
            << ls("sync 1|gpumcu 1");
        QTest::newRow("nothing known") << QByteArray(R"({"RGB":"ON"})") << 0 << "" << QStringList{};
        QTest::newRow("one failure") << mcu << 1 << "" << ls(kMcuRestore);
        QTest::newRow("two failures") << mcu << 2 << "" << ls(kMcuRestore + "|reply -2");
        QTest::newRow("resume") << mcu << 0 << "resume" << ls(kMcuRestore);
        QTest::newRow("refresh finds the card") << mcu << 0 << "card back" << ls(kMcuRestore);
        QTest::newRow("refresh, card was there") << mcu << 0 << "card there" << ls(kMcuRestore);
    }
    void restore()
    {
        QFETCH(QByteArray, settings);
        QFETCH(int, failing);
        QFETCH(QString, trigger);
        QFETCH(QStringList, expected);
        Harness h;
        h.writeSettings(settings);
        h.card->argbResult = failing >= 1 ? -2 : 9;
        h.card->gpuMcuResult = failing >= 2 ? -2 : 5;
        h.gpu->cards = trigger == "card back" ? 0 : 1;
        h.idle(6); // through the start-up restore
        h.steps.push_back([&] {
            h.log.add("trigger");
            h.gpu->cards = 1;
            if (trigger == "resume")
                h.w->reapplySavedChoices();
            else if (!trigger.isEmpty())
                h.w->receiveDataFromQML(req(10));
        });
        h.idle();
        h.run();
        const QStringList startUp = h.log.after("wait 600");
        QCOMPARE(startUp.mid(0, startUp.indexOf("gpu")), expected);
        QCOMPARE(g_messages.contains("ERROR: 2"), failing == 2);
        QStringList again = h.log.after("trigger").filter(QRegularExpression("^(sleep|argb|sync|gpumcu|fan) "));
        again.removeAll("sleep 1000"); // the refresh's own pause
        QCOMPARE(again, trigger == "resume" || trigger == "card back" ? expected : QStringList{});
    }

    // The file's changes wake the loop (nothing reports them here); until
    // the marker asks, it is read once a pass.
    void markerInTheTray()
    {
        for (bool asks : {true, false}) {
            Harness h;
            settingsfiles::writeText(h.w->markerPath(), asks ? " 1 \n" : "0");
            h.deliver({req(101)});
            h.idle(3);
            h.run();
            QCOMPARE(h.lastReply(101).value("startGUI").toInt(), asks ? 1 : 0);
            QCOMPARE(h.log.matching("wait 1100").size(), asks ? 1 : 5); // 1: the monitoring pass's
            QCOMPARE(settingsfiles::readMarker(h.w->markerPath()), 0);
        }
    }

    void exceptionInAPassKeepsTheWorkerServing()
    {
        Harness h;
        h.writeSettings(R"([{"FanControlMode":"MCU","fanSpeed":300,"RGB":"ON","RGBControlMode":"MB"}])");
        h.idle(5);
        h.deliver({req(3, {{"fanSpeed", -1}})});
        h.deliver({req(11, {{"displayMode", 1}})});
        h.run();
        QCOMPARE(h.log.matching("fan 100").size(), 1); // 300 repaired before the restore
        QCOMPARE(h.log.matching("fan -1").size(), 1); // ran once, no reply
        QVERIFY(h.lastReply(3).isEmpty());
        QCOMPARE(h.saved().value("displayMode").toInt(), 1);
    }
};

QTEST_GUILESS_MAIN(WorkerLoopTest)
#include "tst_worker_loop.moc"
