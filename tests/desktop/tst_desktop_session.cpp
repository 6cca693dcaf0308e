// The desktop notifier on a private session bus on which this test plays the
// notification service.

#include "app/desktopnotifier.h"
#include "../e2e/program.h"

#include <QDBusConnection>
#include <QDBusMessage>

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

class DesktopSessionTest : public QObject {
    Q_OBJECT
    CardRig rig; // for its bus
    PrivateHome &home = rig.home;
    const QString socket = rig.socket;
    Notifications notifications;
    const QString failed = "Tarvell Vorn|Tarvell Vorn|Your lighting and fan settings did not reach the card.|default,Open Tarvell Vorn";
    const QString trayHint = "Tarvell Vorn|Tarvell Vorn|Tarvell Vorn keeps running in the tray|";

    QDBusConnection client() { return QDBusConnection::connectToBus("unix:path=" + socket, "client"); }
    QDBusConnection server() { return QDBusConnection::connectToBus("unix:path=" + socket, "server"); }
    // Whatever the service was sent before this call has been served.
    void roundTrip()
    {
        client().call(QDBusMessage::createMethodCall(notifications.service, notifications.path, notifications.service, "GetCapabilities"), QDBus::BlockWithGui);
        QCoreApplication::processEvents();
    }
private slots:
    void initTestCase()
    {
        QVERIFY(rig.startBus());
        QVERIFY(server().registerObject(notifications.path, &notifications, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        QVERIFY(server().registerService(notifications.service));
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
            now = step.at;
            step.act();
            roundTrip();
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
        now = 400000;
        both();
        fan();
        // The refusal is in before the service comes back: the bus orders the
        // two connections' messages only each against its own.
        QVERIFY(QTest::qWaitFor([] { return warnings > 0; }, 10000));
        QVERIFY(server().registerService(notifications.service));
        roundTrip();
        qInstallMessageHandler(previous);
        QCOMPARE(warnings, 1);
        QCOMPARE(notifications.shown.size(), 4);
    }
};

QTEST_GUILESS_MAIN(DesktopSessionTest)
#include "tst_desktop_session.moc"
