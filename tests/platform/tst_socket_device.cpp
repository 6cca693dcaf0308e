// Device names and the overlapped layer against tarvell-card-sim running as a
// real process.

#include "card_sim_process.h"

#include "platform/control_codes.h"
#include "platform/overlapped.h"

#include <QScopeGuard>
#include <QtTest>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace platform;

namespace {

std::unique_ptr<Device> openCard(std::uint32_t *error)
{
    return openDevice("\\\\.\\NF_I2C_BUS_00_0X0060", error);
}

// Runs one request to its end. A write-read may use all of *out but its last
// byte, which must come back untouched.
bool run(Device &device, bool isWrite, const QByteArray &in, QByteArray *out, std::uint32_t *n)
{
    Overlapped ov;
    const bool started =
        isWrite ? device.write(in.constData(), uint(in.size()), n, ov)
                : device.ioControl(kIoctlWriteRead, in.constData(), uint(in.size()), out->data(),
                                   uint(out->size() - 1), n, ov);
    if (started || lastError() != kErrorIoPending)
        return started;
    return device.overlappedResult(ov, n, true);
}

} // namespace

class TestSocketDevice : public QObject {
    Q_OBJECT

    QTemporaryDir runtime_;

private slots:
    void initTestCase()
    {
        qputenv("XDG_RUNTIME_DIR", runtime_.path().toUtf8());
    }

    // Without a usable XDG_RUNTIME_DIR the endpoints live in a folder of our
    // own that nobody else can enter.
    void runtimeFolderIsPrivate()
    {
        for (const char *value : {"", "relative/dir"}) {
            qputenv("XDG_RUNTIME_DIR", value);
            const std::string dir = runtimeDirectory();
            struct stat st {};
            QCOMPARE(QString::fromStdString(dir), QStringLiteral("/tmp/tarvell-vorn-%1").arg(::geteuid()));
            QVERIFY(::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
            QVERIFY(st.st_uid == ::geteuid() && (st.st_mode & 0777) == 0700);
        }
        qputenv("XDG_RUNTIME_DIR", runtime_.path().toUtf8());
    }

    void namesThatAreNoDevice()
    {
        // A plain file, and a socket left behind by a simulator that died.
        QFile plain(runtime_.path() + "/SOMETHING");
        QVERIFY(plain.open(QIODevice::WriteOnly));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, (runtime_.path() + "/STALE").toUtf8(), sizeof address.sun_path);
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        ::close(fd);
        for (auto [path, code] : {std::pair{"\\\\.\\SOMETHING", 2u}, {"\\\\.\\STALE", 2u},
                                  {"NF_I2C_BUS_00_0X0060", 2u}, {"\\\\.\\", 123u}, {"\\\\.\\..", 123u},
                                  {"\\\\.\\a/../../etc/passwd", 123u}}) {
            std::uint32_t error = 0;
            QVERIFY2(!openDevice(path, &error), path);
            QCOMPARE(error, code);
            QCOMPARE(lastError(), code);
        }
    }

    // The endpoint takes one client at a time.
    void pendingWriteIsCancelledOnTheOnlyClient()
    {
        CardSimProcess sim(runtime_.path(), {"--fault", "pending-write-ms=20000", "--fault", "long-reply"});
        QVERIFY(sim.start());
        std::uint32_t n = 0, error = 0;
        auto device = openCard(&n);
        QVERIFY(device && !openCard(&error));
        QCOMPARE(error, kErrorSharingViolation);
        Event event(true, true);
        Overlapped ov;
        ov.event = &event;
        const std::uint8_t bytes[] = {0x00, 0xE0, 0x21};
        QVERIFY(!device->write(bytes, 3, &n, ov));
        QCOMPARE(lastError(), kErrorIoPending);
        QCOMPARE(event.wait(300), kWaitTimeout); // starting reset the event
        QVERIFY(device->cancelIo());
        QVERIFY(!device->overlappedResult(ov, &n, true));
        QCOMPARE(lastError(), kErrorOperationAborted);
        QCOMPARE(event.wait(0), kWaitObject0);
        // The device stays usable, the cancelled write never reached the MCU,
        // and a reply longer than asked fills the buffer and no more.
        QByteArray out(3, '\xAA');
        QVERIFY(run(*device, false, "\x82", &out, &n));
        QCOMPARE(out, QByteArray("\0\0\xAA", 3));
        QCOMPARE(n, 2u);
        // Closing aborts what is still pending.
        Overlapped last;
        last.event = &event;
        QVERIFY(!device->write(bytes, 3, &n, last));
        device.reset();
        QCOMPARE(event.wait(0), kWaitObject0);
        QCOMPARE(win32FromStatus(last.internal.load()), kErrorOperationAborted);
        device = openCard(&error);
        QVERIFY(device && run(*device, false, "\x82", &out, &n));
    }

    void stoppedEndpointCannotHoldARequest()
    {
        for (bool isWrite : {true, false}) {
            CardSimProcess sim(runtime_.path());
            QVERIFY(sim.start());
            std::uint32_t n = 0;
            auto device = openCard(&n);
            QVERIFY(device);
            const pid_t pid = pid_t(sim.process().processId());
            QCOMPARE(::kill(pid, SIGSTOP), 0);
            // Let it go again long after any limit, so a request held until
            // then ends instead of hanging the test.
            std::thread resume([pid] {
                std::this_thread::sleep_for(std::chrono::seconds(3));
                ::kill(pid, SIGCONT);
            });
            const auto resumed = qScopeGuard([&] { ::kill(pid, SIGCONT), resume.join(); });
            QElapsedTimer clock;
            clock.start();
            Event event(true);
            Overlapped ov;
            ov.event = &event;
            std::uint8_t out[2];
            const bool started = isWrite ? device->write("\x82", 1, &n, ov)
                                         : device->ioControl(kIoctlWriteRead, "\x82", 1, out, 2, &n, ov);
            if (isWrite) {
                // The write's own limit runs out; its cancel then ends it here.
                QVERIFY(!started);
                QCOMPARE(lastError(), kErrorIoPending);
                QCOMPARE(event.wait(500), kWaitTimeout);
                QVERIFY(device->cancelIo());
            }
            QVERIFY(!started && !device->overlappedResult(ov, &n, true));
            QCOMPARE(lastError(), kErrorOperationAborted);
            QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
            // The connection takes nothing more from an endpoint that hangs.
            QVERIFY(!run(*device, true, "\x01", nullptr, &n));
            QCOMPARE(lastError(), kErrorDeviceNotConnected);
        }
    }
};

QTEST_GUILESS_MAIN(TestSocketDevice)
#include "tst_socket_device.moc"
