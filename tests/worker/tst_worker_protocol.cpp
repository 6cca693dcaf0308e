// The worker object as the scene sees it: its meta-object, the data
// property, the pending-request slot, and the real thread's pacing.

#include "fakes.h"

#include <QMetaMethod>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

class SleepingPacer : public worker::Pacer {
public:
    void sleepMs(int ms) override { QThread::msleep(static_cast<unsigned long>(ms)); }
};

worker::Backends fakeBackends(EventLog &log, bool realSleeps)
{
    worker::Backends b;
    b.card = std::make_unique<FakeCard>(log);
    b.gpu = std::make_unique<FakeGpu>(log);
    b.system = std::make_unique<FakeSystem>(log);
    b.maintenance = std::make_unique<FakeMaintenance>(log);
    if (realSleeps)
        b.pacer = std::make_unique<SleepingPacer>();
    else
        b.pacer = std::make_unique<ScriptedPacer>(log);
    return b;
}

} // namespace

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
        GPU_WORKER w(fakeBackends(log, false));
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

    // The program ends while the worker sits in its long pre-restore pause: the
    // loop ends by itself (it logs its stop) instead of being terminated.
    void destructionLetsTheLoopEndByItself()
    {
        static QStringList messages;
        messages.clear();
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &m) {
            messages << m;
        });
        EventLog log;
        worker::Backends b = fakeBackends(log, true);
        b.pacer = worker::makeRealPacer();
        {
            GPU_WORKER w(std::move(b));
            QSignalSpy replies(&w, &GPU_WORKER::dataChanged);
            w.start();
            QTRY_VERIFY_WITH_TIMEOUT(replies.count() >= 2, 10000); // reply 0, then 100
        }
        qInstallMessageHandler(nullptr);
        QVERIFY(!messages.filter(QStringLiteral("Stop Worker ThreadID: ")).isEmpty());
    }

    // The real thread with real pauses: reply 0, then reply 100 about every
    // 1.1 s, and the restore five seconds after the first reply 100.
    void realThreadPacing()
    {
        EventLog log;
        GPU_WORKER w(fakeBackends(log, true));
        QList<QPair<qint64, int>> replies;
        QElapsedTimer clock;
        QThread *receiverThread = nullptr;
        QObject receiver;
        connect(&w, &GPU_WORKER::dataChanged, &receiver, [&](const QVariantMap &reply) {
            receiverThread = QThread::currentThread();
            replies << qMakePair(clock.elapsed(), reply.value("function").toInt());
        });
        clock.start();
        w.start();
        w.receiveDataFromQML({{"function", -1}});
        QTRY_VERIFY_WITH_TIMEOUT(replies.size() >= 4, 15000);
        w.stopThread();

        QCOMPARE(receiverThread, QThread::currentThread()); // queued onto this thread
        QCOMPARE(replies.at(0).second, 0);
        QCOMPARE(replies.at(1).second, 100);
        QCOMPARE(replies.at(2).second, 100);
        // First pass: 1 s + 4 s + the restore's 80 ms + 100 ms before the next.
        const qint64 firstGap = replies.at(2).first - replies.at(1).first;
        QVERIFY2(firstGap >= 5100 && firstGap < 8000, qPrintable(QString::number(firstGap)));
        const qint64 gap = replies.at(3).first - replies.at(2).first;
        QVERIFY2(gap >= 1050 && gap < 2500, qPrintable(QString::number(gap)));
        QVERIFY(log.events.contains("argb 05 fb 00 00 FE"));
    }
};

QTEST_GUILESS_MAIN(WorkerProtocolTest)
#include "tst_worker_protocol.moc"
