// The worker's loop through its seams, every operation a fake that records its
// call. On the calling thread, pauses run on the fake pacer's own clock and
// requests land at the waits between passes, as the scene's do; the last
// test runs the real thread.

#include "fakes.h"
#include "worker/settingsfiles.h"

#include <QtTest>

#include <deque>

namespace {
QStringList g_messages;
void capture(QtMsgType, const QMessageLogContext &, const QString &m) { g_messages << m; }
QVariantMap js(const char *json) { return QJsonDocument::fromJson(json).object().toVariantMap(); }
QStringList ls(const QString &s) { return s.isEmpty() ? QStringList() : s.split('|'); }
QVariantMap req(int function, QVariantMap extra = {}) { return extra.insert("function", function), extra; }
QVariantMap savedIn(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return QJsonDocument::fromJson(f.readAll()).array().at(0).toObject().toVariantMap();
}
using Rows = QList<QVariantMap>;
} // namespace

// Requests are delivered at the waits, one step a wait; no step left: stop.
struct Harness {
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
            replies[r.value("function").toInt()] = r;
            log.add(QStringLiteral("reply %1").arg(r.value("function").toInt()));
        });
        pacer->onWait = [this](int) {
            if (steps.empty())
                return w->stopThread();
            std::exchange(steps.front(), {})(), steps.pop_front();
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
    // What the loop did after the delivering wait, up to its next wait.
    QStringList handled() const
    {
        const QStringList e = log.all().mid(deliveredAt + 1);
        return e.mid(0, e.indexOf(QRegularExpression("wait .*")));
    }

    QTemporaryDir dataHome;
    EventLog log;
    FakeCard *card; FakeGpu *gpu; FakeMaintenance *maintenance; ScriptedPacer *pacer;
    std::unique_ptr<TestableWorker> w;
    QMap<int, QVariantMap> replies; // the last of each function
    std::deque<std::function<void()>> steps;
    int deliveredAt = -1;
    qint64 deliveredClock = -1;
};

class WorkerLoopTest : public QObject {
    Q_OBJECT

private slots:
    void init() { g_messages.clear(); qInstallMessageHandler(capture); }

    // One-shot commands: what reaches the card, the reply, what is saved ("none": no file).
    void commands_data()
    {
        QTest::addColumn<QVariantMap>("request");
        QTest::addColumn<QVariantMap>("setup");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QVariantMap>("reply");
        QTest::addColumn<QVariantMap>("saved");
        const auto row = [](const char *name, const char *request, const char *setup, const QString &events,
                            const char *reply, const char *saved) {
            QTest::newRow(name) << js(request) << js(setup) << ls(events) << js(reply) << js(saved);
        };
        row("lighting stored", R"({"function":1,"RGB":"ON","displayMode":1,"effect":10,"r_hex":"ff",
            "g_hex":"80","b_hex":"00","speed":"FF","ARGBSliderSpeed":4})", "{}",
            "sync 0|sleep 80|argb 0A ff 80 00 FF|reply 1",
            R"({"resultCheck_Switch_MCU_MB":0,"resultCheck_ARGB_Control":0,"GPU_count":1})",
            R"({"argb_effect":"10","r_hex":"ff","speed":"FF","ARGBSliderSpeed":4,"displayMode":1,"RGBControlMode":"MCU"})");
        row("effect out of range", R"({"function":1,"RGB":"OFF","effect":14,"r_hex":"11"})", "{}",
            "sync 0", "{}", R"({"RGB":"OFF","r_hex":"fb"})");
        row("fan switch fails", R"({"function":2,"controlMode":0})", R"({"gpumcu":-2})",
            "gpumcu 0|reply 2", R"({"resultCheck":1})", R"({"FanControlMode":"GPU"})");
        row("fan duty fails", R"({"function":3,"fanControlBtn":4,"fanSpeed":75})", R"({"fan":2})",
            "gpumcu 0|fan 75|reply 3", R"({"fanSpeedSetting":75,"resultCheck":1})",
            R"({"fanSpeed":100,"fanControlBtn":4})");
        // The card layer throws on a duty out of its byte range: that command ends, the loop serves on.
        row("duty the card layer throws on", R"({"function":3,"fanSpeed":-1})", "{}", "gpumcu 0|fan -1", "{}", R"({"none":1})");
        // The card's own state read back: nothing of the user's changes, so the settings file is not written.
        row("fan PWM read", R"({"function":4})", "{}", "readFanPwm", "{}", R"({"none":1})");
        row("colour read", R"({"function":5,"readMode":1})", "{}", "readArgbValue 1", "{}", R"({"none":1})");
        row("effect and speed read", R"({"function":6})", "{}", "readEffectSpeed", "{}", R"({"none":1})");
        row("OpenRGB server chosen", R"({"function":18,"openRgbServer":true})", "{}", "", "{}",
            R"({"openRgbServer":true})");
        row("firmware version", R"({"function":19})", "{}", "readFw|reply 19", R"({"firmwareVersion":"01.00.03.19.04.0B"})",
            R"({"none":1})");
        row("driver reinstall fails", R"({"function":16})", R"({"driverOk":false})", "driver " + QCoreApplication::
            applicationDirPath() + "/NF_I2CPeripheralDriver/NfI2cTestDrv.inf|reply 16", R"({"resultCheck":1})", R"({"none":1})");
    }
    void commands()
    {
        QFETCH(QVariantMap, request);
        QFETCH(QVariantMap, setup);
        QFETCH(QVariantMap, reply);
        QFETCH(QVariantMap, saved);
        Harness h;
        FakeCard &c = *h.card;
        for (auto [key, value] : {std::pair{"argb", &c.argbResult}, {"sync", &c.syncResult},
                                  {"gpumcu", &c.gpuMcuResult}, {"fan", &c.fanResult}})
            *value = setup.value(key, *value).toInt();
        h.maintenance->driverOk = setup.value("driverOk", true).toBool();
        h.deliver({request});
        h.w->runHere();
        QTEST(h.handled(), "events");
        QVERIFY(h.steps.empty() && h.log.all().constLast().startsWith("wait ")); // still serving
        const QVariantMap got = h.replies.value(request.value("function").toInt());
        for (auto it = reply.cbegin(); it != reply.cend(); ++it)
            QCOMPARE(got.value(it.key()).toInt(), it.value().toInt());
        QCOMPARE(QFile::exists(h.w->settingsPath()), !saved.contains("none"));
        const QVariantMap file = savedIn(h.w->settingsPath());
        for (auto it = saved.cbegin(); it != saved.cend() && it.key() != "none"; ++it)
            QCOMPARE(file.value(it.key()).toString(), it.value().toString());
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
        QTest::newRow("monitoring after a command") << Rows{req(7), req(100)} << Rows{} << ls("gpumcu 1|gpu|reply 100");
        QTest::newRow("mode sent during a command") << Rows{req(2)} << Rows{req(101)}
                                                    << ls("gpumcu 0|reply 2|reply 101");
        QTest::newRow("command sent during a command") << Rows{req(2)} << Rows{req(9)}
                                                       << ls("gpumcu 0|reply 2|sync 0|readSyncCable");
    }
    void requestsInTheSlot()
    {
        QFETCH(Rows, requests);
        QFETCH(Rows, during);
        Harness h;
        settingsfiles::writeText(h.w->markerPath(), QStringLiteral("1"));
        h.idle(5); // past the start-up restore
        h.steps.push_back([&] { h.card->onSwitch = [&] { for (auto &r : during) h.w->receiveDataFromQML(r); }; });
        h.deliver(requests);
        h.idle();
        h.w->runHere();
        QTEST(h.log.all().mid(h.deliveredAt + 1).filter(QRegularExpression("^(?!wait |sleep )")), "events");
    }

    // A request is taken the moment it arrives: the wait it lands in ends at once (idle,
    // monitoring, in the tray), and one that arrives during a command skips the next wait.
    void requestTakenAtOnce()
    {
        for (int mode : {-1, 100, 101, 2}) {
            Harness h;
            h.deliver({req(mode == 2 ? -1 : mode)});
            h.card->onSwitch = [&h] { h.w->receiveDataFromQML(req(9)); };
            h.deliver({req(mode == 2 ? 2 : 9)});
            h.w->runHere();
            QCOMPARE(h.handled(), ls(QString(mode == 2 ? "gpumcu 0|reply 2|" : "") + "sync 0|readSyncCable"));
            QCOMPARE(h.pacer->now, h.deliveredClock); // not one millisecond waited
        }
    }

    // The saved choices reach the card 5 s after the first reply 100, and
    // again when a refresh finds the card that was missing. The driver counts
    // as missing only when two operations could not open it.
    void restore()
    {
        const QStringList sent = ls("sleep 80|argb 0C aa bb cc 02|sync 0|gpumcu 0|sleep 80|fan 75");
        for (auto [failing, trigger] : {std::pair{1, ""}, {2, ""}, {0, "card back"}, {0, "card there"}}) {
            Harness h;
            settingsfiles::writeText(h.w->settingsPath(), R"({"RGB":"ON","RGBControlMode":"MCU","argb_effect":12,
                "r_hex":"aa","g_hex":"bb","b_hex":"cc","speed":"02","FanControlMode":"MCU","fanSpeed":75})");
            std::tie(h.card->argbResult, h.card->gpuMcuResult) = std::pair(failing >= 1 ? -2 : 9, failing >= 2 ? -2 : 5);
            h.card->kernelDriver = failing == 2; // the scene words that case apart
            h.gpu->cards = trigger == QString("card back") ? 0 : 1;
            h.idle(6); // through the start-up restore
            h.steps.push_back([&, trigger = QString(trigger)] {
                h.log.add("trigger");
                h.gpu->cards = 1;
                if (!trigger.isEmpty())
                    h.w->receiveDataFromQML(req(10));
            });
            h.idle();
            h.w->runHere();
            const QStringList startUp = h.log.after("wait 600");
            QCOMPARE(startUp.mid(0, startUp.indexOf("gpu")), failing == 2 ? sent + QStringList{"reply -2"} : sent);
            QCOMPARE(g_messages.contains("ERROR: 2"), failing == 2);
            QCOMPARE(h.replies.value(-2).value("driverBusy"), failing == 2 ? QVariant(true) : QVariant());
            QStringList again = h.log.after("trigger").filter(QRegularExpression("^(sleep|argb|sync|gpumcu|fan) "));
            again.removeAll("sleep 1000"); // the refresh's own pause
            QCOMPARE(again, trigger == QString("card back") ? sent : QStringList{});
            g_messages.clear();
        }
    }

    // On the Monitor page the user presses Apply and opens another page
    // 150 ms later: the duty still reaches the card and is saved. The program
    // then ends while the worker waits for its restore: the loop ends by
    // itself (it logs its stop) instead of being terminated.
    void applyThenPageSwitchKeepsTheFanChoice()
    {
        QTemporaryDir dataHome;
        qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
        EventLog log;
        QString settings;
        {
            // On the heap, as the program holds it: freeing it must not race
            // the loop's last reads.
            auto w = std::make_unique<GPU_WORKER>(fakeBackends(log, worker::makeRealPacer()));
            // Counted on this thread: a QSignalSpy would be filled on the
            // worker's while this one reads it.
            QObject here;
            int replies = 0;
            connect(w.get(), &GPU_WORKER::dataChanged, &here, [&replies] { ++replies; }, Qt::QueuedConnection);
            w->start();
            QTRY_VERIFY_WITH_TIMEOUT(replies >= 2, 10000); // reply 0, then 100
            w->receiveDataFromQML({{"function", 3}, {"fanControlBtn", 4}, {"fanSpeed", 100}});
            QTest::qWait(150);
            w->receiveDataFromQML({{"function", -1}});
            QTRY_VERIFY_WITH_TIMEOUT(log.all().contains("fan 100"), 10000);
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(settings = w->settingsPath()), 10000);
        }
        QVERIFY(!g_messages.filter(QStringLiteral("Stop Worker ThreadID: ")).isEmpty());
        QCOMPARE(savedIn(settings).value("fanSpeed").toInt(), 100);
        QCOMPARE(savedIn(settings).value("fanControlBtn").toInt(), 4);
    }
};

QTEST_GUILESS_MAIN(WorkerLoopTest)
#include "tst_worker_loop.moc"
