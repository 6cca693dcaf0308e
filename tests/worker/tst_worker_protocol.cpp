// The worker object as the scene sees it: the data property, and the real
// thread with its real waits.

#include "fakes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class WorkerProtocolTest : public QObject {
    Q_OBJECT

    QTemporaryDir dataHome;

private slots:
    void initTestCase() { qputenv("XDG_DATA_HOME", dataHome.path().toUtf8()); }

    void dataPropertyEmitsOnlyOnRealChange()
    {
        EventLog log;
        GPU_WORKER w(fakeBackends(log, std::make_unique<ScriptedPacer>(log)));
        QSignalSpy spy(&w, &GPU_WORKER::dataChanged);
        const QVariantMap a{{"function", 1}, {"effect", 5}};
        for (const QVariantMap &m : {a, a, QVariantMap{{"function", 1}, {"effect", 6}}})
            w.setData(m);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(w.property("data").toMap().value("effect").toInt(), 6);
        const QMetaProperty prop = GPU_WORKER::staticMetaObject.property(
            GPU_WORKER::staticMetaObject.indexOfProperty("data"));
        QVERIFY(prop.isWritable() && prop.hasNotifySignal());
    }

    // The program ends while the worker waits for its restore: the loop ends
    // by itself (it logs its stop) instead of being terminated.
    void destructionLetsTheLoopEndByItself()
    {
        static QStringList messages;
        messages.clear();
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &m) {
            messages << m;
        });
        EventLog log;
        {
            GPU_WORKER w(fakeBackends(log, worker::makeRealPacer()));
            QSignalSpy replies(&w, &GPU_WORKER::dataChanged);
            w.start();
            QTRY_VERIFY_WITH_TIMEOUT(replies.count() >= 2, 10000); // reply 0, then 100
        }
        qInstallMessageHandler(nullptr);
        QVERIFY(!messages.filter(QStringLiteral("Stop Worker ThreadID: ")).isEmpty());
    }

    // On the Monitor page the user presses Apply and opens another page
    // 150 ms later: the duty still reaches the card and is saved.
    void applyThenPageSwitchKeepsTheFanChoice()
    {
        EventLog log;
        GPU_WORKER w(fakeBackends(log, worker::makeRealPacer()));
        QSignalSpy replies(&w, &GPU_WORKER::dataChanged);
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(replies.count() >= 2, 10000); // reply 0, then 100
        w.receiveDataFromQML({{"function", 3}, {"fanControlBtn", 4}, {"fanSpeed", 100}});
        QTest::qWait(150);
        w.receiveDataFromQML({{"function", -1}});
        QTRY_VERIFY_WITH_TIMEOUT(log.all().contains("fan 100"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(w.settingsPath()), 10000);
        w.stopThread();
        QFile f(w.settingsPath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QJsonObject saved = QJsonDocument::fromJson(f.readAll()).array().at(0).toObject();
        QCOMPARE(saved.value("fanSpeed").toInt(), 100);
        QCOMPARE(saved.value("fanControlBtn").toInt(), 4);
    }
};

QTEST_GUILESS_MAIN(WorkerProtocolTest)
#include "tst_worker_protocol.moc"
