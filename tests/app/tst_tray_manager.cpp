// The tray icon: which activations ask for the window, and the one menu entry.

#include "app/traymanager.h"

#include <QApplication>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QtTest>

class TrayManagerTest : public QObject {
    Q_OBJECT

    static QSystemTrayIcon *iconOf(TrayManager &tray)
    {
        return tray.findChild<QSystemTrayIcon *>();
    }

private slots:
    void onlyAPlainClickAsksForTheWindow()
    {
        TrayManager tray;
        QSignalSpy spy(&tray, &TrayManager::showWindowRequested);
        QSystemTrayIcon *icon = iconOf(tray);
        for (auto reason : {QSystemTrayIcon::Context, QSystemTrayIcon::DoubleClick,
                            QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Unknown})
            emit icon->activated(reason);
        QCOMPARE(spy.count(), 0);
        emit icon->activated(QSystemTrayIcon::Trigger);
        QCOMPARE(spy.count(), 1);
    }

    void exitEndsTheEventLoopWithZero()
    {
        TrayManager tray;
        QAction *exit = iconOf(tray)->contextMenu()->actions().first();
        QTimer::singleShot(0, exit, &QAction::trigger);
        QTimer watchdog;
        watchdog.setSingleShot(true);
        connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(7); });
        watchdog.start(5000);
        QCOMPARE(QApplication::exec(), 0);
    }
};

QTEST_MAIN(TrayManagerTest)
#include "tst_tray_manager.moc"
