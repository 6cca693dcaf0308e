// The program on a desktop of the test's own: a private session bus on which
// this test plays the notification service and a StatusNotifier tray, a
// virtual X server, and the simulated card failing every request.

#include "app/desktopnotifier.h"
#include "../e2e/program.h"
#include "../platform/card_sim_process.h"
#include <QDBusInterface>
#include <QElapsedTimer>
#include <QImage>
#include <QStandardPaths>

class Notifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    const QString service = "org.freedesktop.Notifications", path = "/org/freedesktop/Notifications";
    QStringList shown; // "application|summary|body|actions"; a notification's id is its place + 1
public slots:
    uint Notify(const QString &app, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &actions, const QVariantMap &, int)
    {
        shown << QStringList{app, summary, body, actions.join(',')}.join('|');
        return uint(shown.size());
    }
    QStringList GetCapabilities() { return {"actions", "body"}; }
signals:
    void ActionInvoked(uint id, const QString &key);
};

class Watcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ yes)
public:
    QStringList items;
    bool yes() const { return true; }
public slots:
    void RegisterStatusNotifierItem(const QString &service) { items << service; }
};

class DesktopSessionTest : public QObject {
    Q_OBJECT
    PrivateHome home;
    const QString socket = home.path("session_bus_socket"), entry = home.path("config/autostart/tarvell-vorn.desktop");
    std::unique_ptr<QProcess> bus, xvfb, program;
    CardSimProcess card{home.runtime(), {"--sysfs", home.runtime() + "/sysfs", "--fault", "error=31"}};
    Notifications notifications;
    Watcher watcher;
    QProcessEnvironment env; // the program's, on the virtual display and the private bus
    QString windowId;
    QElapsedTimer clock;
    // Where the test stands, so a run that stalls says where.
    void step(const char *what) { qInfo("%5.1f s  %s", clock.elapsed() / 1000.0, what); }
    const QString failed = "Tarvell Vorn|Tarvell Vorn|Your lighting and fan settings did not reach the card.|default,Open Tarvell Vorn";
    const QString trayHint = "Tarvell Vorn|Tarvell Vorn|Tarvell Vorn keeps running in the tray|";

    QDBusConnection client() { return QDBusConnection::connectToBus("unix:path=" + socket, "client"); }
    QDBusConnection server() { return QDBusConnection::connectToBus("unix:path=" + socket, "server"); }
    // Whatever the service was sent before this call has been served.
    void roundTrip()
    {
        client().call(QDBusMessage::createMethodCall(notifications.service, notifications.path, notifications.service, "GetCapabilities"), QDBus::BlockWithGui), QCoreApplication::processEvents();
    }
    QByteArray run(const QString &tool, const QStringList &args, QByteArray *errors = nullptr)
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(tool, args);
        if (!p.waitForFinished(30000))
            return {};
        if (errors)
            *errors = p.readAllStandardError();
        return p.readAllStandardOutput().trimmed();
    }
    // A search that meets a window being destroyed under it stops with an X
    // error and finds nothing; that says nothing of the program's window, so
    // it looks again (a few times: windows do not vanish for ever).
    QString visibleWindow()
    {
        QByteArray found, errors;
        for (int tries = 0; tries < 5; ++tries) {
            found = run("xdotool", {"search", "--onlyvisible", "--name", "^TARVELL VORN$"}, &errors);
            if (!errors.contains("X Error"))
                break;
        }
        return found;
    }
    // A look at the window; a BMP, as a PNG of it takes seconds to compress. Named looks are kept.
    QImage grab(const QString &name = {})
    {
        const QString look = home.path("look.bmp");
        run("import", {"-window", windowId, look});
        const QImage shot = QImage(look).convertToFormat(QImage::Format_RGB32);
        if (!name.isEmpty())
            shot.save(PICTURE_DIR "/setting-" + name + ".png");
        return shot;
    }
    // The switch's knob, by its colour, right of the page labels: the topmost
    // one, as the OpenRGB switch below it may share the colour.
    QPoint knob(const QString &colour)
    {
        const QImage shot = grab();
        const QRgb wanted = QColor(colour).rgb();
        QRect box;
        for (int y = 0; y < shot.height(); ++y) {
            const auto *line = reinterpret_cast<const QRgb *>(shot.constScanLine(y));
            for (int x = 300; x < shot.width(); ++x)
                if (line[x] == wanted && (box.isNull() || y < box.top() + 30))
                    box |= QRect(x, y, 1, 1);
        }
        return box.width() >= 8 && box.width() < 30 ? box.center() : QPoint();
    }
    void click(const QPoint &at)
    {
        run("xdotool", {"mousemove", "--window", windowId, QString::number(at.x()), QString::number(at.y()), "click", "1", "mousemove", "--window", windowId, "4", "4"});
    }
private slots:
    void initTestCase()
    {
        QVERIFY(writeFile(home.path("bus.conf"), "<busconfig><type>session</type><listen>unix:path=" + socket.toUtf8()
                          + "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/><allow own=\"*\"/>"
                            "<allow receive_sender=\"*\"/></policy></busconfig>"));
        bus = home.start("dbus-daemon", {"--config-file=" + home.path("bus.conf"), "--nofork", "--nopidfile", "--print-address"});
        QTRY_VERIFY_WITH_TIMEOUT(bus->peek(4096).contains("guid="), 10000); // listening
        QVERIFY(server().registerObject(notifications.path, &notifications, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        QVERIFY(server().registerService(notifications.service));
    }
    void cleanupTestCase()
    {
        for (auto *p : {program.get(), xvfb.get(), bus.get()})
            if (p && (p->terminate(), !p->waitForFinished(10000)))
                p->kill();
    }

    // The same words wait a minute; the tray hint comes once for good; a
    // click on a failure, and only that, opens the window.
    void notifierRepeatsAndClicks()
    {
        qint64 now = 0;
        DesktopNotifier notifier(client(), home.path("hint"), [&now] { return now; });
        QSignalSpy opened(&notifier, &DesktopNotifier::openWindowRequested);
        const std::function<void()> fan = [&] { notifier.choicesNotApplied(false, true); }, both = [&] { notifier.choicesNotApplied(true, true); },
                                    tray = [&] { notifier.closedToTray(); }, nextStart = [&] { DesktopNotifier(client(), home.path("hint")).closedToTray(); };
        const struct { qint64 at; std::function<void()> act; int shown; } steps[] = {
            {0, both, 1}, {59999, both, 1}, {59999, fan, 2}, {60000, both, 3}, {60000, tray, 4}, {200000, tray, 4}, {200000, nextStart, 4}};
        for (const auto &step : steps) {
            now = step.at, step.act(), roundTrip();
            QCOMPARE(notifications.shown.size(), step.shown);
        }
        QCOMPARE(notifications.shown, (QStringList{failed, QString(failed).replace("lighting and fan settings", "fan setting"), failed, trayHint}));
        for (const auto &[id, key] : {std::pair<uint, QString>{9, "default"}, {4, "default"}, {3, "other"}, {3, "default"}})
            emit notifications.ActionInvoked(id, key);
        roundTrip();
        QCOMPARE(opened.count(), 1);
        // Without a service: nothing shown, nothing stops, one line in the log.
        static int warnings = 0;
        const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &) { warnings += type == QtWarningMsg; });
        QVERIFY(server().unregisterService(notifications.service));
        now = 400000, both(), fan();
        // The refusal is in before the service comes back: the bus orders the
        // two connections' messages only each against its own.
        QVERIFY(QTest::qWaitFor([] { return warnings > 0; }, 10000));
        QVERIFY(server().registerService(notifications.service));
        roundTrip();
        qInstallMessageHandler(previous);
        QCOMPARE(warnings, 1);
        QCOMPARE(notifications.shown.size(), 4);
    }

    void programOnTheDesktop()
    {
        // Every wait is by the clock (qWaitFor), not by a count of tries as
        // QTRY_* does: one look at the screen takes up to a second, and a
        // count would let a stuck step run on for many minutes.
        clock.start();
        step("the desktop starts");
        for (const char *tool : {"Xvfb", "xdotool", "import", "desktop-file-validate"})
            if (QStandardPaths::findExecutable(tool).isEmpty()) QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(tool)));
        QVERIFY(server().registerObject("/StatusNotifierWatcher", &watcher, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
        QVERIFY(server().registerService("org.kde.StatusNotifierWatcher"));
        (xvfb = std::make_unique<QProcess>())->start("Xvfb", {"-displayfd", "1", "-screen", "0", "1600x900x24", "-nolisten", "tcp"});
        QVERIFY(QTest::qWaitFor([&] { return xvfb->canReadLine(); }, 20000));
        (env = home.environment()).remove("QT_QPA_PLATFORM");
        env.insert("DISPLAY", ":" + xvfb->readLine().trimmed());
        env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + socket);
        env.insert("LIBGL_ALWAYS_SOFTWARE", "1");
        QVERIFY(card.start());
        notifications.shown.clear();
        step("the program starts, hidden in the tray");
        program = home.start(TARVELL_VORN, {}, env);
        // The program's own words go to the test's log as they come, so a stalled run shows them.
        connect(program.get(), &QProcess::readyRead, this, [this] {
            while (program->canReadLine())
                qInfo("program: %s", program->readLine().trimmed().constData());
        });
        // Hidden in the tray, the restore fails on the card and the user is told; a click opens the window.
        QVERIFY(QTest::qWaitFor([&] { return notifications.shown.contains(failed); }, 90000));
        QVERIFY(visibleWindow().isEmpty());
        emit notifications.ActionInvoked(uint(notifications.shown.indexOf(failed) + 1), "default");
        step("a click on the notification");
        QVERIFY(QTest::qWaitFor([&] { return !(windowId = visibleWindow()).isEmpty(); }, 60000));
        // The "Setting" label, until the page switch's marker stands at it.
        step("the Setting page");
        QVERIFY(QTest::qWaitFor([&] { return (click({120, 495}), grab().pixelColor(71, 496) == QColor("#6B90D7")); }, 30000));
        QPoint off, on;
        QVERIFY(QTest::qWaitFor([&] { return !(off = knob("#747474")).isNull(); }, 20000));
        grab("autostart-off-dark");
        step("the switch by the pointer");
        for (const bool written : {true, false}) {
            click(written ? off : on);
            QVERIFY(QTest::qWaitFor([&] { return QFile::exists(entry) == written; }, 10000));
            QVERIFY(QTest::qWaitFor([&] { return !(written ? (on = knob("#6B90D7")) : (off = knob("#747474"))).isNull(); }, 10000));
        }
        // Tab reaches the switch (its focus ring shows left of it), Space turns it on.
        // Each press is given time to show its ring before the next one moves on.
        const auto ringShown = [&] { return grab().pixelColor(off.x() - 12, off.y()).lightness() > 200; };
        bool reached = false;
        step("the switch by the keyboard");
        for (int presses = 0; presses < 20 && !reached; ++presses) {
            run("xdotool", {"key", "--window", windowId, "Tab"});
            reached = QTest::qWaitFor(ringShown, 1500);
        }
        QVERIFY2(reached, "Tab reaches the switch");
        run("xdotool", {"key", "--window", windowId, "space"});
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(entry) && !(on = knob("#6B90D7")).isNull(); }, 10000));
        grab("autostart-on-dark");
        QCOMPARE(run("desktop-file-validate", {entry}), QByteArray());
        QVERIFY(readFile(entry).contains("Name=Tarvell Vorn\nIcon=com.tarvell.vorn\nExec=\"" TARVELL_VORN "\"\n"));
        // The light theme, from the theme switch right above.
        click(on + QPoint(-10, -34));
        step("the light theme");
        QVERIFY(QTest::qWaitFor([&] { return grab().pixelColor(20, 20).lightness() > 128; }, 20000));
        grab("autostart-on-light");
        // Closed twice, the entry removed by hand in between: one hint, and the switch reads the entry afresh.
        for (int close = 0; close < 2; ++close) {
            step("closed to the tray");
            run(CLOSE_WINDOW, {windowId});
            QVERIFY2(QTest::qWaitFor([&] { return visibleWindow().isEmpty(); }, 60000),
                     qPrintable("asked " + windowId + " to close; still shown: " + visibleWindow()));
            // The tray item's title, read on the connection the notifications arrive on, comes after any it sent.
            const QDBusConnection c = server();
            QCOMPARE(QDBusInterface(watcher.items.last(), "/StatusNotifierItem", "org.kde.StatusNotifierItem", c).property("Title").toString(), "Tarvell Vorn");
            QCoreApplication::processEvents();
            QCOMPARE(notifications.shown.count(trayHint), 1);
            if (close == 0 && QFile::remove(entry) && home.start(TARVELL_VORN, {}, env)->waitForFinished(30000)) {
                step("a second start shows the window");
                QVERIFY(QTest::qWaitFor([&] { return !(windowId = visibleWindow()).isEmpty() && !knob("#747474").isNull(); }, 60000));
                grab("autostart-off-light");
            }
        }
    }
};

QTEST_GUILESS_MAIN(DesktopSessionTest)
#include "tst_desktop_session.moc"
