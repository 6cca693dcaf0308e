// The worker object as the scene sees it: its meta-object, the data
// property, the pending-request slot, and the real thread's pacing.

#include "fakes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaMethod>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>



class WorkerProtocolTest : public QObject {
    Q_OBJECT

    QTemporaryDir dataHome;

private slots:
    void initTestCase() { qputenv("XDG_DATA_HOME", dataHome.path().toUtf8()); }

    void methodsInDeclaredOrder()
    {
        const QStringList expected{
            "dataChanged(QVariantMap)",
            "stopThread()",
            "setData(QVariantMap)",
            "receiveDataFromQML(QVariantMap)",
            "I2C_ARGB_Control(QString,QString,QString,QString,QString)",
            "I2C_Switch_GPU_MCU_Control(int)",
            "I2C_Fan_Control(int)",
            "I2C_Switch_to_Sync_Motherboard_Control(int)",
            "Read_Check_MB_Sync_Cable()",
            "Read_I2C_Fan_PWM()",
            "I2C_Read_ARGB_Value(int)",
            "I2C_Read_ARGB_Effect_Speed()",
            "I2C_Read_FW_Version()",
            "Get_GPU_Information()",
            "GetCPUInfo()",
            "GetMemoryInfo()",
            "GetMotherboardInfo()",
            "GetAdapterDriverVersion(ctl_device_adapter_properties_t*)",
            "OverclockPowerTelemetry(ctl_device_adapter_handle_t)",
            "CtlPciTest(ctl_device_adapter_handle_t)",
            "check_NewVersionFromServer()",
            "downloadFileFromServer(std::wstring,std::wstring)",
            "setAutoStart(bool)",
            "installDriverWithPnPUtil(QString)",
            "getData()",
        };
        const QMetaObject &mo = GPU_WORKER::staticMetaObject;
        QCOMPARE(mo.methodCount() - mo.methodOffset(), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            const QMetaMethod m = mo.method(mo.methodOffset() + i);
            QCOMPARE(QString::fromLatin1(m.methodSignature()), expected.at(i));
        }
        const QMetaMethod signal = mo.method(mo.methodOffset());
        QCOMPARE(signal.methodType(), QMetaMethod::Signal);
        QCOMPARE(signal.parameterNames().value(0), QByteArray("data"));
        QCOMPARE(mo.method(mo.methodOffset() + 24).methodType(), QMetaMethod::Method);
        QCOMPARE(QString::fromLatin1(mo.method(mo.methodOffset() + 13).typeName()),
                 QStringLiteral("int"));
        QCOMPARE(QString::fromLatin1(mo.method(mo.methodOffset() + 18).typeName()),
                 QStringLiteral("std::array<double,4>"));
        QCOMPARE(QString::fromLatin1(mo.method(mo.methodOffset() + 20).typeName()),
                 QStringLiteral("QMap<QString,QVariantList>"));
    }

    void dataPropertyEmitsOnlyOnRealChange()
    {
        EventLog log;
        GPU_WORKER w(fakeBackends(log, std::make_unique<ScriptedPacer>(log)));
        QSignalSpy spy(&w, &GPU_WORKER::dataChanged);
        const QVariantMap a{{"function", 1}, {"effect", 5}};
        w.setData(a);
        QCOMPARE(spy.count(), 1);
        w.setData(a);
        QCOMPARE(spy.count(), 1);
        w.setData({{"function", 1}, {"effect", 6}});
        QCOMPARE(spy.count(), 2);
        w.setData({{"function", 1}, {"effect", 6}, {"extra", true}});
        QCOMPARE(spy.count(), 3);
        QCOMPARE(w.getData().value("extra").toBool(), true);
        QCOMPARE(w.property("data").toMap(), w.getData());

        const QMetaProperty prop =
            GPU_WORKER::staticMetaObject.property(GPU_WORKER::staticMetaObject.indexOfProperty("data"));
        QVERIFY(prop.isReadable() && prop.isWritable() && prop.isScriptable() && prop.isStored()
                && prop.isDesignable());
        QVERIFY(prop.hasNotifySignal());
    }

    // The program ends while the worker waits for its restore: the loop
    // ends by itself (it logs its stop) instead of being terminated.
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

    // The real thread and its real waits: on the Monitor page the user
    // presses Apply and opens another page 150 ms later. The duty still
    // reaches the card and is saved.
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
