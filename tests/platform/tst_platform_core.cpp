// Events, last error, status and errno mapping, runtime folder, device factory.

#include "platform/overlapped.h"

#include <QtTest>

#include <cerrno>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace platform;

namespace {

class NullDevice : public Device {
public:
    bool write(const void *, std::uint32_t, std::uint32_t *, Overlapped &) override { return false; }
    bool read(void *, std::uint32_t, std::uint32_t *, Overlapped &) override { return false; }
    bool ioControl(std::uint32_t, const void *, std::uint32_t, void *, std::uint32_t,
                   std::uint32_t *, Overlapped &) override
    {
        return false;
    }
    bool cancelIo() override { return true; }
    bool overlappedResult(Overlapped &, std::uint32_t *, bool) override { return false; }
};

} // namespace

class TestPlatformCore : public QObject {
    Q_OBJECT

private slots:
    void manualResetEventStaysSetUntilReset()
    {
        Event e(true);
        QCOMPARE(e.wait(0), kWaitTimeout);
        e.set();
        QCOMPARE(e.wait(0), kWaitObject0);
        QCOMPARE(e.wait(0), kWaitObject0);
        e.reset();
        QCOMPARE(e.wait(10), kWaitTimeout);

        Event initiallySet(true, true);
        QCOMPARE(initiallySet.wait(0), kWaitObject0);
    }

    void autoResetEventReleasesOneWait()
    {
        Event e(false, true);
        QCOMPARE(e.wait(0), kWaitObject0);
        QCOMPARE(e.wait(0), kWaitTimeout);
        e.set();
        QCOMPARE(e.wait(-1), kWaitObject0);
        QCOMPARE(e.wait(0), kWaitTimeout);
    }

    void eventWakesWaiterOnAnotherThread()
    {
        Event go(true);
        Event answer(false);
        std::thread t([&] {
            if (go.wait(-1) == kWaitObject0)
                answer.set();
        });
        go.set();
        QCOMPARE(answer.wait(-1), kWaitObject0);
        t.join();
    }

    void lastErrorIsPerThread()
    {
        setLastError(5);
        std::uint32_t seenThere = 1234;
        std::thread t([&] {
            seenThere = lastError();
            setLastError(31);
        });
        t.join();
        QCOMPARE(seenThere, 0u);
        QCOMPARE(lastError(), 5u);
    }

    void statusWordsMapBackToPlainCodes_data()
    {
        QTest::addColumn<quint32>("status");
        QTest::addColumn<quint32>("plain");
        QTest::newRow("success") << 0u << 0u;
        QTest::newRow("hresult 31") << 0x8007001Fu << 31u;
        QTest::newRow("hresult 995") << 0x800703E3u << 995u;
        QTest::newRow("plain code") << 50u << 50u;
        QTest::newRow("still pending") << kStatusPending << 997u;
        QTest::newRow("cancelled") << 0xC0000120u << 995u;
        QTest::newRow("foreign failure") << 0xC00000B5u << 31u;
    }
    void statusWordsMapBackToPlainCodes()
    {
        QFETCH(quint32, status);
        QFETCH(quint32, plain);
        QCOMPARE(win32FromStatus(status), plain);
    }

    void errnoTable_data()
    {
        QTest::addColumn<int>("err");
        QTest::addColumn<quint32>("code");
        QTest::newRow("none") << 0 << 0u;
        QTest::newRow("ENOENT") << ENOENT << 2u;
        QTest::newRow("EACCES") << EACCES << 5u;
        QTest::newRow("EREMOTEIO") << EREMOTEIO << 31u;
        QTest::newRow("EBUSY") << EBUSY << 170u;
        QTest::newRow("ETIMEDOUT") << ETIMEDOUT << 121u;
        QTest::newRow("ENXIO") << ENXIO << 1167u;
        QTest::newRow("unlisted") << EDOM << 31u;
    }
    void errnoTable()
    {
        QFETCH(int, err);
        QFETCH(quint32, code);
        QCOMPARE(win32FromErrno(err), code);
    }

    void runtimeDirectoryFollowsXdg()
    {
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", "/some/where");
        QCOMPARE(QString::fromStdString(runtimeDirectory()), QStringLiteral("/some/where"));

        // Unset or relative: a private folder under /tmp.
        for (const char *value : {"", "relative/dir"}) {
            qputenv("XDG_RUNTIME_DIR", value);
            const std::string dir = runtimeDirectory();
            QCOMPARE(QString::fromStdString(dir),
                     QStringLiteral("/tmp/tarvell-vorn-%1").arg(::geteuid()));
            struct stat st {};
            QCOMPARE(::lstat(dir.c_str(), &st), 0);
            QVERIFY(S_ISDIR(st.st_mode));
            QCOMPARE(st.st_uid, ::geteuid());
            QCOMPARE(int(st.st_mode & 0777), 0700);
        }
        qputenv("XDG_RUNTIME_DIR", saved);
    }

    void openFailsForNamesThatAreNoDevice()
    {
        QTemporaryDir runtime;
        QVERIFY(runtime.isValid());
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
        // A plain file under the name is no endpoint.
        QFile plain(runtime.path() + "/SOMETHING");
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();

        struct Case {
            const char *path;
            std::uint32_t error;
        };
        for (const Case &c : {Case{"\\\\.\\SOMETHING", 2u}, Case{"\\\\.\\SPB_", 2u},
                              Case{"NF_I2C_BUS_00_0X0060", 2u}, Case{"\\\\.\\", 123u},
                              Case{"\\\\.\\..", 123u}, Case{"\\\\.\\a/../../etc/passwd", 123u}}) {
            std::uint32_t error = 0;
            setLastError(0);
            QVERIFY2(!openDevice(c.path, &error), c.path);
            QCOMPARE(error, c.error);
            QCOMPARE(lastError(), c.error);
        }
        qputenv("XDG_RUNTIME_DIR", saved);
    }

    void factoryReplacesResolution()
    {
        std::string asked;
        setDeviceFactoryForTesting([&](const std::string &path, std::uint32_t *error) {
            asked = path;
            if (path == "\\\\.\\NONE") {
                *error = 5;
                return std::unique_ptr<Device>();
            }
            return std::unique_ptr<Device>(new NullDevice);
        });
        std::uint32_t error = 99;
        QVERIFY(openDevice("\\\\.\\FAKE", &error));
        QCOMPARE(error, 0u);
        QCOMPARE(QString::fromStdString(asked), QStringLiteral("\\\\.\\FAKE"));
        QVERIFY(!openDevice("\\\\.\\NONE", &error));
        QCOMPARE(error, 5u);
        QCOMPARE(lastError(), 5u);

        setDeviceFactoryForTesting({});
        asked.clear();
        QVERIFY(!openDevice("\\\\.\\FAKE", &error));
        QVERIFY(asked.empty());
        QCOMPARE(error, 2u);
    }
};

QTEST_GUILESS_MAIN(TestPlatformCore)
#include "tst_platform_core.moc"
