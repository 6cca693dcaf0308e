// The overlapped layer against tarvell-card-sim running as a real process.

#include "card_sim_process.h"

#include "platform/control_codes.h"
#include "platform/overlapped.h"

#include <QtTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace platform;

namespace {

const char kCardPath[] = "\\\\.\\NF_I2C_BUS_00_0X0060";

std::unique_ptr<Device> openCard(std::uint32_t *error)
{
    return openDevice(kCardPath, error);
}

// The pattern the command objects follow when a request does not go
// pending: record the status themselves, signal, then ask for the result.
bool runLikeCommand(Device &device, Overlapped &ov, bool started, std::uint32_t transferred,
                    std::uint32_t *result)
{
    if (!started && lastError() == kErrorIoPending)
        return device.overlappedResult(ov, result, true);
    ov.internal = started ? 0u : hresultFromWin32(lastError());
    ov.internalHigh = transferred;
    if (ov.event)
        ov.event->set();
    return device.overlappedResult(ov, result, true);
}

bool writeBytes(Device &device, std::initializer_list<std::uint8_t> bytes)
{
    const std::vector<std::uint8_t> data(bytes);
    Overlapped ov;
    std::uint32_t n = 0;
    if (device.write(data.data(), std::uint32_t(data.size()), &n, ov))
        return n == data.size();
    return lastError() == kErrorIoPending && device.overlappedResult(ov, &n, true) &&
           n == data.size();
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

    void absentDeviceIsFileNotFound()
    {
        std::uint32_t error = 0;
        QVERIFY(!openCard(&error));
        QCOMPARE(error, 2u);
        QCOMPARE(lastError(), 2u);

        // A socket left behind by a simulator that died is not served.
        const QString stale = runtime_.path() + "/NF_I2C_BUS_00_0X0060";
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, stale.toUtf8().constData(), sizeof address.sun_path);
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        ::close(fd);
        QVERIFY(!openCard(&error));
        QCOMPARE(error, 2u);

        // The simulator takes the dead socket's place.
        CardSimProcess sim(runtime_.path());
        QVERIFY(sim.start());
        QVERIFY(openCard(&error));
    }

    void immediateSuccessReportsBytes()
    {
        CardSimProcess sim(runtime_.path());
        QVERIFY(sim.start());
        std::uint32_t error = 99;
        auto device = openCard(&error);
        QVERIFY(device);
        QCOMPARE(error, 0u);

        Event event(true);
        Overlapped ov;
        ov.event = &event;
        const std::uint8_t bytes[] = {0x00, 0xE0, 0x21};
        std::uint32_t n = 0;
        QVERIFY(device->write(bytes, 3, &n, ov));
        QCOMPARE(n, 3u);
        QCOMPARE(ov.internal.load(), 0u);
        QCOMPARE(ov.internalHigh.load(), 3u);
        QCOMPARE(event.wait(0), kWaitObject0);
        std::uint32_t result = 0;
        QVERIFY(device->overlappedResult(ov, &result, false));
        QCOMPARE(result, 3u);

        // Open target 0 through a control request without output.
        const std::uint8_t index[4] = {0, 0, 0, 0};
        Overlapped ov2;
        QVERIFY(device->ioControl(kIoctlOpenTarget, index, 4, nullptr, 0, &n, ov2));
        QCOMPARE(n, 0u);
    }

    void writeReadGetsTheMcuReply()
    {
        CardSimProcess sim(runtime_.path());
        QVERIFY(sim.start());
        std::uint32_t error = 0;
        auto device = openCard(&error);
        QVERIFY(device);
        QVERIFY(writeBytes(*device, {0x00, 0xE0, 0x21}));
        QVERIFY(writeBytes(*device, {0x02, 0x0B, 0xFE}));

        const std::uint8_t reg = 0x82;
        std::uint8_t out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
        Overlapped ov;
        std::uint32_t n = 0;
        QVERIFY(device->ioControl(kIoctlWriteRead, &reg, 1, out, 2, &n, ov));
        QCOMPARE(n, 2u);
        QCOMPARE(out[0], std::uint8_t(0x0B));
        QCOMPARE(out[1], std::uint8_t(0xFE));
        QCOMPARE(out[2], std::uint8_t(0xAA)); // nothing past the buffer
    }

    void immediateErrorIsRecordedAsHresult()
    {
        CardSimProcess sim(runtime_.path(), {"--fault", "error=31"});
        QVERIFY(sim.start());
        std::uint32_t error = 0;
        auto device = openCard(&error);
        QVERIFY(device);

        Event event(true);
        Overlapped ov;
        ov.event = &event;
        const std::uint8_t reg = 0x82;
        std::uint8_t out[2] = {};
        std::uint32_t n = 0;
        const bool started = device->ioControl(kIoctlWriteRead, &reg, 1, out, 2, &n, ov);
        QVERIFY(!started);
        QCOMPARE(lastError(), 31u);
        std::uint32_t result = 0;
        QVERIFY(!runLikeCommand(*device, ov, started, n, &result));
        QCOMPARE(ov.internal.load(), 0x8007001Fu);
        QCOMPARE(lastError(), 31u);
        QCOMPARE(event.wait(0), kWaitObject0);
    }

    void pendingWriteTimesOutAndIsCancelled()
    {
        CardSimProcess sim(runtime_.path(), {"--fault", "pending-write-ms=20000"});
        QVERIFY(sim.start());
        std::uint32_t error = 0;
        auto device = openCard(&error);
        QVERIFY(device);

        Event event(true, true);
        Overlapped ov;
        ov.event = &event;
        const std::uint8_t bytes[] = {0x00, 0xE0, 0x21};
        std::uint32_t n = 0;
        QVERIFY(!device->write(bytes, 3, &n, ov));
        QCOMPARE(lastError(), kErrorIoPending);
        QCOMPARE(ov.internal.load(), kStatusPending);
        QCOMPARE(event.wait(500), kWaitTimeout); // starting reset the event
        std::uint32_t result = 0;
        QVERIFY(!device->overlappedResult(ov, &result, false));
        QCOMPARE(lastError(), kErrorIoPending);

        QVERIFY(device->cancelIo());
        QVERIFY(!device->overlappedResult(ov, &result, true));
        QCOMPARE(lastError(), kErrorOperationAborted);
        QCOMPARE(event.wait(0), kWaitObject0);

        // The device stays usable, and the cancelled write never reached the MCU.
        const std::uint8_t reg = 0x82;
        std::uint8_t out[2] = {0xAA, 0xAA};
        Overlapped ov2;
        QVERIFY(device->ioControl(kIoctlWriteRead, &reg, 1, out, 2, &n, ov2));
        QCOMPARE(out[0], std::uint8_t(0x00));
    }

    void pendingRequestsFinishInOrderWithoutEvents()
    {
        CardSimProcess sim(runtime_.path(), {"--fault", "pending-write-ms=50"});
        QVERIFY(sim.start());
        std::uint32_t error = 0;
        auto device = openCard(&error);
        QVERIFY(device);

        const std::uint8_t select[] = {0x00, 0xE0, 0x21};
        const std::uint8_t mode[] = {0x02, 0x07, 0xFF};
        const std::uint8_t reg = 0x82;
        std::uint8_t out[2] = {};
        Overlapped a, b, c; // no events: waited for through the device
        std::uint32_t n = 0;
        QVERIFY(!device->write(select, 3, &n, a));
        QCOMPARE(lastError(), kErrorIoPending);
        QVERIFY(!device->write(mode, 3, &n, b));
        QCOMPARE(lastError(), kErrorIoPending);
        // Queued behind the writes, so it goes pending too.
        QVERIFY(!device->ioControl(kIoctlWriteRead, &reg, 1, out, 2, &n, c));
        QCOMPARE(lastError(), kErrorIoPending);

        std::uint32_t result = 0;
        QVERIFY(device->overlappedResult(c, &result, true));
        QCOMPARE(result, 2u);
        QCOMPARE(out[0], std::uint8_t(0x07));
        QCOMPARE(out[1], std::uint8_t(0xFF));
        QVERIFY(device->overlappedResult(a, &result, true));
        QCOMPARE(result, 3u);
        QVERIFY(device->overlappedResult(b, &result, true));
        QCOMPARE(result, 3u);

        // A record this device never started cannot be waited for.
        Overlapped stranger;
        stranger.internal = kStatusPending;
        QVERIFY(!device->overlappedResult(stranger, &result, true));
        QCOMPARE(lastError(), kErrorInvalidParameter);
    }

    void secondClientIsRefused()
    {
        CardSimProcess sim(runtime_.path());
        QVERIFY(sim.start());
        std::uint32_t error = 0;
        auto first = openCard(&error);
        QVERIFY(first);
        QVERIFY(!openCard(&error));
        QCOMPARE(error, kErrorSharingViolation);
        QVERIFY(writeBytes(*first, {0x00, 0xE0, 0x21}));
        first.reset();
        auto again = openCard(&error);
        QVERIFY(again);
        QVERIFY(writeBytes(*again, {0x00, 0xE0, 0x21}));
    }

    void repliesNeverOverrunTheCallersBuffer()
    {
        CardSimProcess sim(runtime_.path(), {"--fault", "long-reply"});
        QVERIFY(sim.start());
        std::uint32_t error = 0;
        auto device = openCard(&error);
        QVERIFY(device);
        const std::uint8_t reg = 0x82;
        std::uint8_t out[3] = {0x11, 0x11, 0x11};
        Overlapped ov;
        std::uint32_t n = 0;
        QVERIFY(device->ioControl(kIoctlWriteRead, &reg, 1, out, 2, &n, ov));
        QCOMPARE(n, 2u);
        QCOMPARE(ov.internalHigh.load(), 2u);
        QCOMPARE(out[2], std::uint8_t(0x11));
    }

    void shortReplyReportsFewerBytes()
    {
        CardSimProcess sim(runtime_.path(), {"--fault", "short-reply"});
        QVERIFY(sim.start());
        std::uint32_t error = 0;
        auto device = openCard(&error);
        QVERIFY(device);
        const std::uint8_t reg = 0x86;
        std::uint8_t out[6] = {};
        Overlapped ov;
        std::uint32_t n = 0;
        QVERIFY(writeBytes(*device, {0x00, 0xB5, 0x00}));
        QVERIFY(device->ioControl(kIoctlWriteRead, &reg, 1, out, 6, &n, ov));
        QCOMPARE(n, 5u);
        QCOMPARE(out[0], std::uint8_t(0x01));
    }

    void vanishedDeviceFailsRequestsAndOpens()
    {
        CardSimProcess sim(runtime_.path(), {"--fault", "vanish-after=2"});
        QVERIFY(sim.start());
        std::uint32_t error = 0;
        auto device = openCard(&error);
        QVERIFY(device);
        QVERIFY(writeBytes(*device, {0x00, 0xE0, 0x21}));
        QVERIFY(writeBytes(*device, {0x00, 0xE0, 0x21}));
        const std::uint8_t bytes[] = {0x00, 0xE0, 0x21};
        Overlapped ov;
        std::uint32_t n = 0;
        bool ok = device->write(bytes, 3, &n, ov);
        if (!ok && lastError() == kErrorIoPending)
            ok = device->overlappedResult(ov, &n, true);
        QVERIFY(!ok);
        QCOMPARE(lastError(), kErrorDeviceNotConnected);
        device.reset();
        QVERIFY(!QFile::exists(sim.socketPath()));
        QVERIFY(!openCard(&error));
        QCOMPARE(error, 2u);
    }

    void closingAbortsWhatIsPending()
    {
        CardSimProcess sim(runtime_.path(), {"--fault", "pending-write-ms=20000"});
        QVERIFY(sim.start());
        std::uint32_t error = 0;
        auto device = openCard(&error);
        QVERIFY(device);
        Event event(true);
        Overlapped ov;
        ov.event = &event;
        const std::uint8_t bytes[] = {0x00, 0xE0, 0x21};
        std::uint32_t n = 0;
        QVERIFY(!device->write(bytes, 3, &n, ov));
        device.reset();
        QCOMPARE(event.wait(0), kWaitObject0);
        QCOMPARE(win32FromStatus(ov.internal.load()), kErrorOperationAborted);
    }
};

QTEST_GUILESS_MAIN(TestSocketDevice)
#include "tst_socket_device.moc"
