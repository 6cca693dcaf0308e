// The overlapped layer against tarvell-card-sim running as a real process.

#include "card_sim_process.h"

#include "platform/control_codes.h"
#include "platform/overlapped.h"

#include <QtTest>

#include <sys/socket.h>
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
        QVERIFY(runtime_.isValid());
        qputenv("XDG_RUNTIME_DIR", runtime_.path().toUtf8());
    }

    void staleSocketIsNoDevice()
    {
        // A socket left behind by a simulator that died is not served.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, (runtime_.path() + "/NF_I2C_BUS_00_0X0060").toUtf8(),
                 sizeof address.sun_path);
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        ::close(fd);
        std::uint32_t error = 0;
        QVERIFY(!openCard(&error));
        QCOMPARE(error, 2u);
        CardSimProcess sim(runtime_.path());
        QVERIFY(sim.start());
        QVERIFY(openCard(&error));
    }

    void requestsAgainstTheCard_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("writes"); // written first, blank-separated hex
        QTest::addColumn<QByteArray>("reg");
        QTest::addColumn<int>("outLength");
        QTest::addColumn<uint>("error");
        QTest::addColumn<QByteArray>("reply"); // the bytes reported read
        QTest::newRow("effect read back") << "" << QByteArray("00E021 020BFE") << QByteArray("\x82")
                                          << 2 << 0u << QByteArray::fromHex("0BFE");
        QTest::newRow("driver error") << "error=31" << QByteArray() << QByteArray("\x82") << 2
                                      << 31u << QByteArray();
        QTest::newRow("reply too long") << "long-reply" << QByteArray() << QByteArray("\x82") << 2
                                        << 0u << QByteArray(2, '\0');
        QTest::newRow("reply too short") << "short-reply" << QByteArray("00B500")
                                         << QByteArray("\x86") << 6 << 0u
                                         << QByteArray::fromHex("0100031904");
    }
    void requestsAgainstTheCard()
    {
        QFETCH(QString, fault);
        CardSimProcess sim(runtime_.path(), fault.isEmpty() ? QStringList()
                                                            : QStringList{"--fault", fault});
        QVERIFY(sim.start());
        std::uint32_t openError = 0, n = 0;
        auto device = openCard(&openError);
        QVERIFY(device);
        QFETCH(QByteArray, writes);
        for (const QByteArray &w : writes.split(' '))
            QVERIFY(w.isEmpty() || (run(*device, true, QByteArray::fromHex(w), nullptr, &n) &&
                                    n == uint(w.size() / 2)));
        QFETCH(QByteArray, reg);
        QFETCH(int, outLength);
        QByteArray buffer(outLength + 1, '\xAA');
        const bool ok = run(*device, false, reg, &buffer, &n);
        QFETCH(uint, error);
        QCOMPARE(ok, error == 0);
        if (!ok)
            QCOMPARE(lastError(), error);
        QFETCH(QByteArray, reply);
        QCOMPARE(buffer.left(int(n)), reply);
        QCOMPARE(int(n), reply.size());
        QCOMPARE(buffer.at(outLength), '\xAA');
    }

    void pendingWriteIsCancelled()
    {
        CardSimProcess sim(runtime_.path(), {"--fault", "pending-write-ms=20000"});
        QVERIFY(sim.start());
        std::uint32_t error = 0, n = 0;
        auto device = openCard(&error);
        QVERIFY(device);
        Event event(true, true);
        Overlapped ov;
        ov.event = &event;
        const std::uint8_t bytes[] = {0x00, 0xE0, 0x21};
        QVERIFY(!device->write(bytes, 3, &n, ov));
        QCOMPARE(lastError(), kErrorIoPending);
        QCOMPARE(event.wait(500), kWaitTimeout); // starting reset the event
        QVERIFY(!device->overlappedResult(ov, &n, false));
        QCOMPARE(lastError(), kErrorIoPending);
        // A record this device never started cannot be waited for.
        Overlapped stranger;
        stranger.internal = kStatusPending;
        QVERIFY(!device->overlappedResult(stranger, &n, true));
        QCOMPARE(lastError(), kErrorInvalidParameter);

        QVERIFY(device->cancelIo());
        QVERIFY(!device->overlappedResult(ov, &n, true));
        QCOMPARE(lastError(), kErrorOperationAborted);
        QCOMPARE(event.wait(0), kWaitObject0);
        // The device stays usable, and the cancelled write never reached the MCU.
        QByteArray out(3, '\xAA');
        QVERIFY(run(*device, false, "\x82", &out, &n));
        QCOMPARE(out.left(2), QByteArray(2, '\0'));

        // Closing aborts what is still pending.
        Overlapped last;
        last.event = &event;
        QVERIFY(!device->write(bytes, 3, &n, last));
        device.reset();
        QCOMPARE(event.wait(0), kWaitObject0);
        QCOMPARE(win32FromStatus(last.internal.load()), kErrorOperationAborted);
    }

    void stoppedEndpointCannotHoldARequest_data()
    {
        QTest::addColumn<bool>("isWrite");
        QTest::newRow("write") << true;
        QTest::newRow("write-read") << false;
    }
    void stoppedEndpointCannotHoldARequest()
    {
        QFETCH(bool, isWrite);
        CardSimProcess sim(runtime_.path());
        QVERIFY(sim.start());
        std::uint32_t error = 0, n = 0;
        auto device = openCard(&error);
        QVERIFY(device);
        const pid_t pid = pid_t(sim.process().processId());
        QCOMPARE(::kill(pid, SIGSTOP), 0);
        // Let it go again long after any limit, so a request held until then
        // ends instead of hanging the test.
        std::thread resume([pid] {
            std::this_thread::sleep_for(std::chrono::seconds(8));
            ::kill(pid, SIGCONT);
        });
        Event event(true);
        Overlapped ov;
        ov.event = &event;
        const std::uint8_t reg = 0x82;
        std::uint8_t out[2];
        const bool started = isWrite ? device->write(&reg, 1, &n, ov)
                                     : device->ioControl(kIoctlWriteRead, &reg, 1, out, 2, &n, ov);
        const std::uint32_t startError = lastError();
        if (isWrite) {
            // The write's own limit runs out; its cancel then ends it here.
            QVERIFY(!started);
            QCOMPARE(startError, kErrorIoPending);
            QCOMPARE(event.wait(500), kWaitTimeout);
            QVERIFY(device->cancelIo());
        }
        QVERIFY(!started && !device->overlappedResult(ov, &n, true));
        QCOMPARE(lastError(), kErrorOperationAborted);
        // The connection takes nothing more from an endpoint that hangs.
        QVERIFY(!run(*device, true, "\x01", nullptr, &n));
        QCOMPARE(lastError(), kErrorDeviceNotConnected);
        ::kill(pid, SIGCONT);
        resume.join();
    }

    void secondClientIsRefused()
    {
        CardSimProcess sim(runtime_.path());
        QVERIFY(sim.start());
        std::uint32_t error = 0, n = 0;
        auto first = openCard(&error);
        QVERIFY(first);
        QVERIFY(!openCard(&error));
        QCOMPARE(error, kErrorSharingViolation);
        first.reset();
        auto again = openCard(&error);
        QVERIFY(again);
        QVERIFY(run(*again, true, "\x01", nullptr, &n));
    }

    void vanishedDeviceFailsRequestsAndOpens()
    {
        CardSimProcess sim(runtime_.path(), {"--fault", "vanish-after=2"});
        QVERIFY(sim.start());
        std::uint32_t error = 0, n = 0;
        auto device = openCard(&error);
        QVERIFY(device);
        QVERIFY(run(*device, true, "\x01", nullptr, &n));
        QVERIFY(run(*device, true, "\x01", nullptr, &n));
        QVERIFY(!run(*device, true, "\x01", nullptr, &n));
        QCOMPARE(lastError(), kErrorDeviceNotConnected);
        device.reset();
        QVERIFY(!QFile::exists(sim.socketPath()));
        QVERIFY(!openCard(&error));
        QCOMPARE(error, 2u);
    }
};

QTEST_GUILESS_MAIN(TestSocketDevice)
#include "tst_socket_device.moc"
