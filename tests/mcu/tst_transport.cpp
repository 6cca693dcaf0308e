// The driver connection and the two entry points, against an in-process
// driver: what goes on the wire, how statuses come back, the write time-out.

#include "fake_device.h"
#include "output_capture.h"

#include "mcu/commands.h"
#include "mcu/connection.h"
#include "platform/control_codes.h"
#include "mcu/parameters.h"
#include "mcu/transport.h"

#include <QtTest>

#include <thread>

using namespace mcu;
using namespace platform;

namespace {

const char kDevice[] = "\\\\.\\NF_I2C_BUS_00_0X0060";
const char kOpenLine[] = "Opening \\\\.\\NF_I2C_BUS_00_0X0060 as peripheral driver path \n";
const QString kSuccess = "RunCommand status: SUCCESS", kFail = "RunCommand status: FAIL";

QStringList debugLines; // what RunCommand logged

} // namespace

class TransportTest : public QObject {
    Q_OBJECT
    std::unique_ptr<FakeDriver> driver_;
    std::unique_ptr<OutputCapture> out_;
    QtMessageHandler previousHandler_ = nullptr;

private slots:
    void init()
    {
        driver_ = std::make_unique<FakeDriver>();
        out_ = std::make_unique<OutputCapture>();
        EnabledInterrupts().clear();
        debugLines.clear();
        previousHandler_ = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &message) { debugLines << message; });
    }
    void cleanup()
    {
        CloseDriverConnection();
        qInstallMessageHandler(previousHandler_);
        EnabledInterrupts().clear();
        out_.reset();
        driver_.reset();
    }

    void deviceAbsent()
    {
        driver_->absent = true;
        EnabledInterrupts() = {3};
        QCOMPARE(OpenDriverConnection(kDevice), OpenResult::DeviceFailed);
        QCOMPARE(out_->take(), std::string(kOpenLine) + "Error opening peripheral driver - 2\n");
        QVERIFY(!ConnectionDevice() && !ConnectionIoEvent());

        // Commands fail without a handle and say nothing; a parse error still prints.
        QCOMPARE(RunCommand("open 0"), std::uint32_t(platform::kErrorInvalidHandle));
        QCOMPARE(out_->take(), std::string());
        QVERIFY(RunReadCommand("Writeread {82} 2").isEmpty());
        QVERIFY(RunCommand("write 2 01") != 0);
        QVERIFY(!out_->take().empty());
        QCOMPARE(debugLines, QStringList({kFail, kFail}));
        // Cancelling or starting a command needs a handle.
        auto command = ParseCommand(TokenizeCommandLine("read 1"));
        QVERIFY(!command->Cancel() && !command->Execute());
        QCOMPARE(platform::lastError(), std::uint32_t(platform::kErrorInvalidHandle));

        // Closing touches nothing this connection did not create.
        CloseDriverConnection();
        QCOMPARE(out_->take(), std::string());
        QVERIFY(driver_->requests().empty());
        QCOMPARE(EnabledInterrupts(), std::set<std::uint32_t>{3});
    }

    void openingReplacesTheConnection()
    {
        QCOMPARE(OpenDriverConnection(nullptr), OpenResult::Opened);
        QCOMPARE(OpenDriverConnection(""), OpenResult::Opened);
        QCOMPARE(OpenDriverConnection(kDevice), OpenResult::Opened);
        // The open line is for a given path only; with no interrupt enabled
        // the replaced connections say and send nothing on close.
        QCOMPARE(out_->take(), std::string(kOpenLine));
        QVERIFY(driver_->requests().empty());
        QCOMPARE(driver_->openedPaths(), (std::vector<std::string>{"\\\\.\\SPB_", "\\\\.\\SPB_", kDevice}));
        QCOMPARE(driver_->liveDevices(), 1);
        QVERIFY(ConnectionIoEvent());
        QVERIFY(ParseCommand(TokenizeCommandLine("read 1"))->Cancel());
        QCOMPARE(driver_->cancelCalls(), 1);
        driver_->absent = true;
        QCOMPARE(OpenDriverConnection(kDevice), OpenResult::DeviceFailed);
        QCOMPARE(driver_->liveDevices(), 0);
        QVERIFY(!ConnectionDevice());
    }

    // The driver's answer to one command, the status RunCommand returns and
    // what is printed.
    void statuses()
    {
        using R = FakeReply;
        const std::uint32_t gen = platform::kErrorGenFailure, gone = platform::kErrorDeviceNotConnected;
        const struct {
            const char *text;
            FakeReply answer;
            std::uint32_t status;
            std::string printed;
        } rows[] = {
            // The driver's count, not the buffer's length, reaches Complete.
            {"Write {00 E0 21}", {R::Finish, 0, 2}, 0, "2 bytes written\n"},
            {"open 0", {R::Finish}, 0, "Peripheral target 0 opened\n"},
            {"open 0", {R::Fail, gen}, gen, "Error opening peripheral 0 - status 31\n"},
            {"write {01}", {R::Fail, gen}, gen, "Error 31\n"},
            {"writeread {82} 2", {R::Fail, gen}, gen, "Error 31\n"},
            // A failure without an error code still fails.
            {"lock", {R::Fail, 0}, gen, "Error 31\n"},
            {"write {01}", {R::Fail, 0}, gen, "Error 31\n"},
            // Finished while reported pending; a write failing so has no completion line.
            {"write {01 02 03}", {R::PendFinished, 0, 3}, 0, "3 bytes written\n"},
            {"write {01}", {R::PendFinished, gone, 0}, gone, ""},
        };
        QCOMPARE(OpenDriverConnection(kDevice), OpenResult::Opened);
        for (const auto &row : rows) {
            driver_->script = {row.answer};
            out_->take();
            debugLines.clear();
            QVERIFY2(RunCommand(row.text) == row.status, row.text);
            QCOMPARE(out_->take(), row.printed);
            QCOMPARE(debugLines, QStringList(row.status ? kFail : kSuccess));
        }
        QCOMPARE(driver_->cancelCalls(), 0);

        // The command records a failure itself, in HRESULT form.
        driver_->script = {{R::Fail, gen}};
        auto command = ParseCommand(TokenizeCommandLine("open 0"));
        QVERIFY(command->Execute());
        QCOMPARE(command->overlapped.internal.load(), 0x8007001Fu);
        // A write run outside RunCommand brings its own completion event.
        driver_->script = {{R::PendFinished, 0, 1}};
        command = ParseCommand(TokenizeCommandLine("write {01}"));
        QVERIFY(!command->overlapped.event && command->Execute() && command->overlapped.event);
        QCOMPARE(command->overlapped.internalHigh.load(), std::uint64_t(1));
    }

    void pendingRequestIsWaitedFor()
    {
        QCOMPARE(OpenDriverConnection(kDevice), OpenResult::Opened);
        driver_->defaultReply = {FakeReply::Pend, 0, -1, QByteArray::fromHex("aabb")};
        std::thread driverSide([this] { driver_->completePending(0, 2); });
        QCOMPARE(RunReadCommand("writeread {82} 2"), QByteArray::fromHex("aabb"));
        driverSide.join();

        driverSide = std::thread([this] { driver_->completePending(platform::kErrorNotSupported, 0); });
        QCOMPARE(RunCommand("signal"), std::uint32_t(platform::kErrorNotSupported));
        driverSide.join();
        QVERIFY(out_->take().find("Error 50\n") != std::string::npos);
    }

    void writePendingPastLimitIsCancelled()
    {
        QCOMPARE(OpenDriverConnection(kDevice), OpenResult::Opened);
        // The first command leaves the shared I/O event signalled; the write must
        // still wait out its limit instead of taking that as its completion.
        driver_->script = {{FakeReply::Finish}, {FakeReply::Pend}};
        QCOMPARE(RunCommand("open 0"), 0u);
        out_->take();
        QCOMPARE(RunCommand("write {01 02}"), std::uint32_t(platform::kErrorIoPending));
        QCOMPARE(out_->take(), "timeout " + std::string(58, '.'));
        QCOMPARE(driver_->cancelCalls(), 1);
        QCOMPARE(debugLines.last(), kFail);
    }

    void readCommandBytes()
    {
        const QByteArray bytes = QByteArray::fromHex("3412");
        QCOMPARE(OpenDriverConnection(kDevice), OpenResult::Opened);
        out_->take();
        driver_->defaultReply = {FakeReply::Finish, 0, -1, bytes};
        QCOMPARE(RunReadCommand("Writeread {82} 2"), bytes);
        // The completion line with its dump, then the returned bytes' dump.
        const std::string dump = "  34 12 " + std::string(42, ' ') + "\n";
        QCOMPARE(out_->take(), "2 bytes returned\n" + dump + dump);
        QVERIFY(debugLines.isEmpty()); // the read variant writes no status line

        const struct {
            FakeReply answer;
            QByteArray expected;
        } rows[] = {{{FakeReply::Finish, 0, 0, bytes}, {}},
                    {{FakeReply::Finish, 0, 1, bytes}, bytes.left(1)},
                    {{FakeReply::Finish, 0, 40, bytes}, bytes}, // count beyond the buffer
                    {{FakeReply::Fail, platform::kErrorGenFailure}, {}},
                    {{FakeReply::PendFinished, platform::kErrorGenFailure, 2, bytes}, {}}};
        for (const auto &row : rows) {
            driver_->defaultReply = row.answer;
            QCOMPARE(RunReadCommand("writeread {82} 2"), row.expected);
        }
    }

    // What each command puts on the wire; its completion lines are the interpreter's.
    // The card operations' writes and write-reads are pinned by the card protocol test.
    void everyCommandsRequest()
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
            {"open 7", io, kIoctlOpenTarget, QByteArray::fromHex("07000000"), 0, {}},
            {"close", io, kIoctlCloseTarget, {}, 0, {}},
            {"lock", io, kIoctlLockBus, {}, 0, {}},
            {"unlock", io, kIoctlUnlockBus, {}, 0, {}},
            {"lockconn", io, kIoctlLockConnection, {}, 0, {}},
            {"unlockconn", io, kIoctlUnlockConnection, {}, 0, {}},
            {"signal", io, kIoctlSignalInterrupt, {}, 0, {}},
            {"gpio 4", io, kIoctlGpio, QByteArray::fromHex("0400000001000000"), 8,
             QByteArray::fromHex("0400000001010000")},
            {"gpio 4 1", io, kIoctlGpio, QByteArray::fromHex("0400000000010000"), 8,
             QByteArray::fromHex("0400000000010000")},
            {"intenable 5", io, kIoctlEnableInterrupt, QByteArray::fromHex("05000000"), 0, {}},
            {"intdisable 5", io, kIoctlDisableInterrupt, QByteArray::fromHex("05000000"), 0, {}},
            {"pdi", io, kIoctlPdInterrupt, {}, 0, {}},
            {"pdi 1", io, kIoctlPdInterrupt, {}, 1, QByteArray::fromHex("07")},
            {"read 2", FakeRequest::Read, 0, {}, 2, QByteArray::fromHex("0102")},
            // A simple write of one byte, then a buffer-list read of 2 + 3 bytes
            // after 50 us: header, two entries, two lengths, the data.
            {"sequence -s {01} -b [50] 2 3", io, kIoctlSequence,
             QByteArray::fromHex("3c000000020000000100000000000000" "00000000"
                                 "01000000020000000000000001000000"
                                 "020000000100000032000000020000000200000003000000" "01"),
             6, QByteArray::fromHex("a1a2b1b2b3")},
        };
        QCOMPARE(OpenDriverConnection(kDevice), OpenResult::Opened);
        std::size_t seen = 0;
        for (const auto &row : rows) {
            driver_->defaultReply = {FakeReply::Finish, 0, -1, row.driverOutput};
            QVERIFY2(RunCommand(row.text) == 0, row.text);
            const auto requests = driver_->requests();
            QCOMPARE(requests.size(), ++seen);
            QCOMPARE(int(requests.back().kind), row.kind);
            QCOMPARE(requests.back().code, row.code);
            QCOMPARE(requests.back().input, row.input);
            QCOMPARE(requests.back().outputLength, row.outputLength);
        }
    }

    void closeDisablesEnabledInterrupts()
    {
        QCOMPARE(OpenDriverConnection(kDevice), OpenResult::Opened);
        QCOMPARE(RunCommand("intenable 9"), 0u);
        QCOMPARE(RunCommand("intenable 2"), 0u);
        out_->take();
        // The first disable fails at once, the second goes pending and is waited for.
        driver_->script = {{FakeReply::Fail, platform::kErrorNotSupported}, {FakeReply::Pend}};
        std::thread driverSide([this] { driver_->completePending(0, 0); });
        CloseDriverConnection();
        driverSide.join();
        QCOMPARE(out_->take(), std::string("disabling interrupt: 2\nfailed to disable interrupt 2 - 50\n"
                                           "disabling interrupt: 9\n"));
        const auto requests = driver_->requests();
        QCOMPARE(requests.size(), std::size_t(4));
        QCOMPARE(requests[2].code, kIoctlDisableInterrupt);
        QCOMPARE(requests[2].input, QByteArray::fromHex("02000000"));
        QCOMPARE(requests[3].input, QByteArray::fromHex("09000000"));
        QCOMPARE(EnabledInterrupts(), (std::set<std::uint32_t>{2, 9}));
        QCOMPARE(driver_->liveDevices(), 0);
    }
};

QTEST_APPLESS_MAIN(TransportTest)
#include "tst_transport.moc"
