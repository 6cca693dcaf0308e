// The driver connection and the two entry points, against an in-process
// driver: what goes on the wire, how statuses come back, the write time-out.

#include "fake_device.h"
#include "output_capture.h"

#include "mcu/commands.h"
#include "mcu/connection.h"
#include "mcu/control_codes.h"
#include "mcu/parameters.h"
#include "mcu/transport.h"

#include <QtTest>

#include <thread>

using namespace mcu;

namespace {

const char kDevice[] = "\\\\.\\NF_I2C_BUS_00_0X0060";
const char kOpenLine[] = "Opening \\\\.\\NF_I2C_BUS_00_0X0060 as peripheral driver path \n";

QStringList &debugLines()
{
    static QStringList lines;
    return lines;
}

void collectDebug(QtMsgType, const QMessageLogContext &, const QString &message)
{
    debugLines() << message;
}

FakeReply reply(FakeReply::Mode mode, std::uint32_t error = 0, int transferred = -1,
                const QByteArray &output = {})
{
    FakeReply r;
    r.mode = mode;
    r.error = error;
    r.transferred = transferred;
    r.output = output;
    return r;
}

QByteArray word(std::uint32_t value)
{
    QByteArray out;
    for (int shift = 0; shift < 32; shift += 8)
        out.append(char(value >> shift));
    return out;
}

} // namespace

class TransportTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void deviceAbsent();
    void openWithoutPathUsesFallback();
    void immediateSuccessReachesComplete();
    void immediateErrorIsRecordedAsHresult();
    void pendingRequestIsWaitedFor();
    void writePendingPastLimitIsCancelled();
    void writeFinishingWhilePending();
    void writeReadOnTheWire();
    void readCommandBytes();
    void everyCommandsRequest();
    void sequenceDescriptorOnTheWire();
    void closeDisablesEnabledInterrupts();
    void reopeningReplacesTheConnection();

private:
    std::unique_ptr<FakeDriver> driver_;
    std::unique_ptr<OutputCapture> out_;
    QtMessageHandler previousHandler_ = nullptr;
};

void TransportTest::init()
{
    driver_ = std::make_unique<FakeDriver>();
    out_ = std::make_unique<OutputCapture>();
    EnabledInterrupts().clear();
    debugLines().clear();
    previousHandler_ = qInstallMessageHandler(collectDebug);
}

void TransportTest::cleanup()
{
    CloseDriverConnection();
    qInstallMessageHandler(previousHandler_);
    EnabledInterrupts().clear();
    out_.reset();
    driver_.reset();
}

void TransportTest::deviceAbsent()
{
    driver_->absent = true;
    EnabledInterrupts() = {3};
    QCOMPARE(OpenDriverConnection(kDevice), OpenResult::DeviceFailed);
    QCOMPARE(out_->take(), std::string(kOpenLine) + "Error opening peripheral driver - 2\n");
    QVERIFY(!ConnectionDevice());
    QVERIFY(!ConnectionIoEvent());

    // Commands fail without a handle and say nothing; a parse error still prints.
    QCOMPARE(RunCommand("open 0"), std::uint32_t(platform::kErrorInvalidHandle));
    QCOMPARE(out_->take(), std::string());
    QVERIFY(RunReadCommand("Writeread {82} 2").isEmpty());
    QVERIFY(RunCommand("write 2 01") != 0);
    QVERIFY(!out_->take().empty());
    QCOMPARE(debugLines(), QStringList({"RunCommand status: FAIL", "RunCommand status: FAIL"}));
    // Cancelling or starting a command needs a handle.
    auto command = ParseCommand(TokenizeCommandLine("read 1"));
    QVERIFY(!command->Cancel());
    QVERIFY(!command->Execute());
    QCOMPARE(platform::lastError(), std::uint32_t(platform::kErrorInvalidHandle));

    // Closing touches nothing this connection did not create.
    CloseDriverConnection();
    QCOMPARE(out_->take(), std::string());
    QVERIFY(driver_->requests().empty());
    QCOMPARE(EnabledInterrupts(), std::set<std::uint32_t>{3});
}

void TransportTest::openWithoutPathUsesFallback()
{
    QCOMPARE(OpenDriverConnection(nullptr), OpenResult::Opened);
    QCOMPARE(out_->take(), std::string()); // the open line is for a given path only
    QCOMPARE(driver_->openedPaths(), std::vector<std::string>{"\\\\.\\SPB_"});
    QVERIFY(ConnectionDevice());
    QVERIFY(ConnectionIoEvent());
    CloseDriverConnection();
    QCOMPARE(driver_->liveDevices(), 0);
    QVERIFY(!ConnectionDevice());
}

void TransportTest::immediateSuccessReachesComplete()
{
    QCOMPARE(OpenDriverConnection(kDevice), OpenResult::Opened);
    QCOMPARE(out_->take(), std::string(kOpenLine));
    driver_->script = {reply(FakeReply::Finish), reply(FakeReply::Finish, 0, 2)};
    QCOMPARE(RunCommand("open 0"), 0u);
    QCOMPARE(RunCommand("Write {00 E0 21}"), 0u);
    // The driver's count, not the buffer's length, reaches Complete.
    QCOMPARE(out_->take(), std::string("Peripheral target 0 opened\n2 bytes written\n"));
    QCOMPARE(debugLines(), QStringList({"RunCommand status: SUCCESS", "RunCommand status: SUCCESS"}));

    const auto requests = driver_->requests();
    QCOMPARE(requests.size(), std::size_t(2));
    QCOMPARE(requests[0].code, kIoctlOpen);
    QCOMPARE(requests[0].input, word(0));
    QCOMPARE(requests[1].kind, FakeRequest::Write);
    QCOMPARE(requests[1].input, QByteArray::fromHex("00e021"));
}

void TransportTest::immediateErrorIsRecordedAsHresult()
{
    QCOMPARE(OpenDriverConnection(kDevice), OpenResult::Opened);
    driver_->defaultReply = reply(FakeReply::Fail, platform::kErrorGenFailure);

    // The command records the failure itself, in HRESULT form...
    auto command = ParseCommand(TokenizeCommandLine("open 0"));
    QVERIFY(command);
    QVERIFY(command->Execute());
    QCOMPARE(command->overlapped.internal.load(), 0x8007001Fu);

    // ...and the wait maps it back to the plain code.
    out_->take();
    QCOMPARE(RunCommand("open 0"), 31u);
    QCOMPARE(RunCommand("write {01}"), 31u);
    QCOMPARE(RunCommand("writeread {82} 2"), 31u);
    QCOMPARE(out_->take(), std::string("Error opening peripheral 0 - status 31\nError 31\nError 31\n"));
    QCOMPARE(debugLines().last(), QString("RunCommand status: FAIL"));
    QVERIFY(RunReadCommand("writeread {82} 2").isEmpty());

    // A failure without an error code still fails.
    driver_->defaultReply = reply(FakeReply::Fail, 0);
    QCOMPARE(RunCommand("lock"), std::uint32_t(platform::kErrorGenFailure));
    QCOMPARE(RunCommand("write {01}"), std::uint32_t(platform::kErrorGenFailure));
}

void TransportTest::pendingRequestIsWaitedFor()
{
    QCOMPARE(OpenDriverConnection(kDevice), OpenResult::Opened);
    driver_->defaultReply = reply(FakeReply::Pend, 0, -1, QByteArray::fromHex("aabb"));
    std::thread driverSide([this] { driver_->completePending(0, 2); });
    const QByteArray bytes = RunReadCommand("writeread {82} 2");
    driverSide.join();
    QCOMPARE(bytes, QByteArray::fromHex("aabb"));

    std::thread failing([this] { driver_->completePending(platform::kErrorNotSupported, 0); });
    QCOMPARE(RunCommand("signal"), std::uint32_t(platform::kErrorNotSupported));
    failing.join();
    QVERIFY(out_->take().find("Error 50\n") != std::string::npos);
}

void TransportTest::writePendingPastLimitIsCancelled()
{
    QCOMPARE(OpenDriverConnection(kDevice), OpenResult::Opened);
    // The first command leaves the shared I/O event signalled; the write must
    // still wait out its limit instead of taking that as its completion.
    driver_->script = {reply(FakeReply::Finish), reply(FakeReply::Pend)};
    QCOMPARE(RunCommand("open 0"), 0u);
    out_->take();

    QCOMPARE(RunCommand("write {01 02}"), std::uint32_t(platform::kErrorIoPending));
    QCOMPARE(out_->take(),
             std::string("timeout .........................................................."));
    QCOMPARE(driver_->cancelCalls(), 1);
    QCOMPARE(driver_->pendingCount(), 0); // the cancel had landed before the buffer went
    QCOMPARE(debugLines().last(), QString("RunCommand status: FAIL"));
}

void TransportTest::writeFinishingWhilePending()
{
    QCOMPARE(OpenDriverConnection(kDevice), OpenResult::Opened);
    out_->take();
    driver_->script = {reply(FakeReply::PendFinished, 0, 3),
                       reply(FakeReply::PendFinished, platform::kErrorDeviceNotConnected, 0)};
    QCOMPARE(RunCommand("write {01 02 03}"), 0u);
    QCOMPARE(out_->take(), std::string("3 bytes written\n"));
    QCOMPARE(RunCommand("write {01}"), std::uint32_t(platform::kErrorDeviceNotConnected));
    QCOMPARE(out_->take(), std::string()); // Execute failed: no completion line
    QCOMPARE(driver_->cancelCalls(), 0);

    // A write run outside RunCommand brings its own completion event.
    driver_->script = {reply(FakeReply::PendFinished, 0, 1)};
    auto command = ParseCommand(TokenizeCommandLine("write {01}"));
    QVERIFY(command && !command->overlapped.event);
    QVERIFY(command->Execute());
    QVERIFY(command->overlapped.event);
    QCOMPARE(command->overlapped.internal.load(), 0u);
    QCOMPARE(command->overlapped.internalHigh.load(), std::uint64_t(1));
}

void TransportTest::writeReadOnTheWire()
{
    QCOMPARE(OpenDriverConnection(kDevice), OpenResult::Opened);
    out_->take();
    driver_->defaultReply = reply(FakeReply::Finish, 0, -1, QByteArray::fromHex("3412"));
    const QByteArray bytes = RunReadCommand("Writeread {82} 2");
    QCOMPARE(bytes, QByteArray::fromHex("3412"));
    const auto requests = driver_->requests();
    QCOMPARE(requests.size(), std::size_t(1));
    QCOMPARE(requests[0].code, kIoctlWriteRead);
    QCOMPARE(requests[0].input, QByteArray::fromHex("82"));
    QCOMPARE(requests[0].outputLength, 2u);
    // The completion line with its dump, then the returned bytes' dump.
    const std::string dump = "  34 12 " + std::string(42, ' ') + "\n";
    QCOMPARE(out_->take(), "2 bytes returned\n" + dump + dump);
    QVERIFY(debugLines().isEmpty()); // the read variant writes no status line
}

void TransportTest::readCommandBytes()
{
    const QByteArray bytes = QByteArray::fromHex("3412");
    const struct {
        FakeReply answer;
        QByteArray expected;
    } rows[] = {{reply(FakeReply::Finish, 0, 0, bytes), {}},
                {reply(FakeReply::Finish, 0, 1, bytes), bytes.left(1)},
                {reply(FakeReply::Finish, 0, 40, bytes), bytes}, // count beyond the buffer
                {reply(FakeReply::PendFinished, platform::kErrorGenFailure, 2, bytes), {}}};
    QCOMPARE(OpenDriverConnection(kDevice), OpenResult::Opened);
    for (const auto &row : rows) {
        driver_->defaultReply = row.answer;
        QCOMPARE(RunReadCommand("writeread {82} 2"), row.expected);
    }
}

// What each command puts on the wire; its completion lines are the interpreter's.
void TransportTest::everyCommandsRequest()
{
    const int io = FakeRequest::IoControl;
    const struct {
        const char *text;
        int kind;
        std::uint32_t code;
        QByteArray input;
        std::uint32_t outputLength;
        QByteArray driverOutput;
    } rows[] = {
        {"open 7", io, kIoctlOpen, word(7), 0, {}},
        {"close", io, kIoctlClose, {}, 0, {}},
        {"lock", io, kIoctlLock, {}, 0, {}},
        {"unlock", io, kIoctlUnlock, {}, 0, {}},
        {"lockconn", io, kIoctlLockConnection, {}, 0, {}},
        {"unlockconn", io, kIoctlUnlockConnection, {}, 0, {}},
        {"signal", io, kIoctlSignalInterrupt, {}, 0, {}},
        {"gpio 4", io, kIoctlGpio, QByteArray::fromHex("0400000001000000"), 8,
         QByteArray::fromHex("0400000001010000")},
        {"gpio 4 1", io, kIoctlGpio, QByteArray::fromHex("0400000000010000"), 8,
         QByteArray::fromHex("0400000000010000")},
        {"intenable 5", io, kIoctlInterruptEnable, word(5), 0, {}},
        {"intdisable 5", io, kIoctlInterruptDisable, word(5), 0, {}},
        {"pdi", io, kIoctlPdInterrupt, {}, 0, {}},
        {"pdi 1", io, kIoctlPdInterrupt, {}, 1, QByteArray::fromHex("07")},
        {"read 2", FakeRequest::Read, 0, {}, 2, QByteArray::fromHex("0102")},
    };
    QCOMPARE(OpenDriverConnection(kDevice), OpenResult::Opened);
    std::size_t seen = 0;
    for (const auto &row : rows) {
        driver_->defaultReply = reply(FakeReply::Finish, 0, -1, row.driverOutput);
        QVERIFY2(RunCommand(row.text) == 0, row.text);
        const auto requests = driver_->requests();
        QCOMPARE(requests.size(), ++seen);
        QCOMPARE(int(requests.back().kind), row.kind);
        QCOMPARE(requests.back().code, row.code);
        QCOMPARE(requests.back().input, row.input);
        QCOMPARE(requests.back().outputLength, row.outputLength);
    }
}

void TransportTest::sequenceDescriptorOnTheWire()
{
    QCOMPARE(OpenDriverConnection(kDevice), OpenResult::Opened);
    out_->take();
    driver_->defaultReply = reply(FakeReply::Finish, 0, -1, QByteArray::fromHex("a1a2b1b2b3"));
    QCOMPARE(RunReadCommand("sequence -s {01} -b [50] 2 3"), QByteArray::fromHex("a1a2b1b2b3"));
    const auto requests = driver_->requests();
    QCOMPARE(requests.size(), std::size_t(1));
    QCOMPARE(requests[0].code, kIoctlSequence);
    QCOMPARE(requests[0].input,
             QByteArray::fromHex("3c000000020000000100000000000000" "00000000"
                                 "01000000020000000000000001000000"
                                 "020000000100000032000000020000000200000003000000" "01"));
    QCOMPARE(requests[0].outputLength, 6u);
    QVERIFY(out_->take().rfind("5 total bytes returned\nBuffer List 1 [50]: <2 Entries>\n", 0) == 0);
}

void TransportTest::closeDisablesEnabledInterrupts()
{
    QCOMPARE(OpenDriverConnection(kDevice), OpenResult::Opened);
    QCOMPARE(RunCommand("intenable 9"), 0u);
    QCOMPARE(RunCommand("intenable 2"), 0u);
    out_->take();
    // The first disable fails at once, the second goes pending and is waited for.
    driver_->script = {reply(FakeReply::Fail, platform::kErrorNotSupported), reply(FakeReply::Pend)};
    std::thread driverSide([this] { driver_->completePending(0, 0); });
    CloseDriverConnection();
    driverSide.join();
    QCOMPARE(out_->take(), std::string("disabling interrupt: 2\nfailed to disable interrupt 2 - 50\n"
                                       "disabling interrupt: 9\n"));
    const auto requests = driver_->requests();
    QCOMPARE(requests.size(), std::size_t(4));
    QCOMPARE(requests[2].code, kIoctlInterruptDisable);
    QCOMPARE(requests[2].input, word(2));
    QCOMPARE(requests[3].input, word(9));
    QCOMPARE(EnabledInterrupts(), (std::set<std::uint32_t>{2, 9}));
    QCOMPARE(driver_->liveDevices(), 0);

    // An empty set: nothing is said or sent on close.
    EnabledInterrupts().clear();
    QCOMPARE(OpenDriverConnection(kDevice), OpenResult::Opened);
    out_->take();
    CloseDriverConnection();
    QCOMPARE(out_->take(), std::string());
    QCOMPARE(driver_->requests().size(), std::size_t(4));
}

void TransportTest::reopeningReplacesTheConnection()
{
    QCOMPARE(OpenDriverConnection(kDevice), OpenResult::Opened);
    QCOMPARE(OpenDriverConnection(kDevice), OpenResult::Opened);
    QCOMPARE(driver_->liveDevices(), 1);
    QVERIFY(ParseCommand(TokenizeCommandLine("read 1"))->Cancel());
    QCOMPARE(driver_->cancelCalls(), 1);
    driver_->absent = true;
    QCOMPARE(OpenDriverConnection(kDevice), OpenResult::DeviceFailed);
    QCOMPARE(driver_->liveDevices(), 0);
    QVERIFY(!ConnectionDevice());
}

QTEST_APPLESS_MAIN(TransportTest)
#include "tst_transport.moc"
