#include "mcu/card_mcu.h"

#include "mcu/transport.h"
#include "platform/overlapped.h"

#include <QDebug>

#include <cstdio>
#include <stdexcept>
#include <utility>

namespace mcu {

namespace {

constexpr unsigned kTransferPauseMs = 20;

// Texts of the card's transfer vocabulary that never change.
const char kOpenTarget[] = "open 0";
const char kSelectColour[] = "Write {00 E3 00}";
const char kSelectLighting[] = "Write {00 E0 21}";
const char kLightingDone[] = "Write {00 E0 2F}";
const char kCommit[] = "Write {01 01}";
const char kSelectFanDuty[] = "Write {00 D8 10}";
const char kSelectFanValue[] = "Write {00 D8 00}";
const char kSelectSyncCable[] = "Write {00 E0 FE}";
const char kSelectFirmware[] = "Write {00 B5 00}";
const char kReadValue82[] = "Writeread {82} 2";
const char kReadColourBlock[] = "Writeread {A0} 32";
const char kReadColour[] = "Writeread {85} 4";
const char kReadFirmware[] = "Writeread {86} 6";

// 25 LEDs, sent as 10 + 10 + 5. The second byte is the length of the whole
// transfer: two header bytes and three per LED.
constexpr int kLedsPerLongWrite = 10;
constexpr int kLedsPerShortWrite = 5;

const char kArgbHeader[] =
    "========================= ARGB Control ===================================";
const char kGpuMcuHeader[] =
    "\n=================== I2C_Switch_GPU_MCU_Control ========================";
const char kSyncMbHeader[] =
    "\n=================== I2C_Switch_to_Sync_Motherboard_Control ========================";
const char kFanControlHeader[] = "\n=================== I2C_Fan_Control ========================";
const char kFanReadHeader[] = "\n=================== Read_I2C_Fan_PWM ========================";
const char kArgbReadHeader[] =
    "\n=================== I2C_Read_ARGB_Value ========================";
const char kSyncCableHeader[] =
    "\n=================== Read_Check_MB_Sync_Cable ========================";
const char kFirmwareHeader[] =
    "\n=================== I2C_Read_FW_Version ========================";

void logHeader(const char *header) { qDebug().noquote() << header; }

void logFixed(const QString &text) { qDebug().noquote() << "CMD: " + text; }

bool isHexDigit(QChar c)
{
    const ushort u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'A' && u <= 'F') || (u >= 'a' && u <= 'f');
}

} // namespace

// One driver connection for the length of one operation. Closing is
// idempotent, so the destructor covers every early return and exception.
class CardMcu::Connection {
public:
    Connection(const std::string &path, std::uint32_t &openError)
        : result_(OpenDriverConnection(path.empty() ? nullptr : path.c_str()))
    {
        openError = result_ == OpenResult::DeviceFailed ? platform::lastError() : 0;
    }
    ~Connection() { close(); }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    bool opened() const { return result_ == OpenResult::Opened; }
    bool deviceMissing() const { return result_ == OpenResult::DeviceFailed; }

    void close()
    {
        if (open_) {
            open_ = false;
            CloseDriverConnection();
        }
    }

private:
    OpenResult result_;
    // The transport wants its close also after a failed open.
    bool open_ = true;
};

CardMcu::CardMcu(std::string devicePath, SleepFn sleep)
    : i2cDevicePath(std::move(devicePath)), sleep_(std::move(sleep))
{
    if (!sleep_)
        sleep_ = [](unsigned ms) { platform::sleepMs(ms); };
}

void CardMcu::pause() { sleep_(kTransferPauseMs); }

void CardMcu::recordStatus(std::uint32_t status)
{
    lastCommandStatus = static_cast<std::int32_t>(status);
    if (status == 0)
        ++commandSuccessCount;
}

void CardMcu::runCounted(const QString &text)
{
    logFixed(text);
    recordStatus(RunCommand(text.toUtf8().constData()));
}

void CardMcu::runBuilt(const QString &text)
{
    qDebug().noquote() << text;
    const QByteArray narrow = text.toUtf8();
    if (narrow.size() > kMaxBuiltCommandLength) {
        // It would be cut short on its way to the interpreter; a truncated
        // transfer must never reach the card.
        qWarning().noquote() << "command text longer than" << kMaxBuiltCommandLength
                             << "characters, not sent";
        recordStatus(platform::kErrorInsufficientBuffer);
        return;
    }
    recordStatus(RunCommand(narrow.constData()));
}

void CardMcu::runQuiet(const QString &text)
{
    logFixed(text);
    RunCommand(text.toUtf8().constData());
}

void CardMcu::readInto(const QString &text)
{
    logFixed(text);
    i2cReplyBuffer = RunReadCommand(text.toUtf8().constData());
}

bool CardMcu::isByteText(const QString &text)
{
    if (text.isEmpty() || text.size() > 2)
        return false;
    for (const QChar c : text) {
        if (!isHexDigit(c))
            return false;
    }
    return true;
}

std::uint8_t CardMcu::IntToUint8(int value)
{
    if (static_cast<unsigned>(value) > 0xFFu)
        throw std::out_of_range("ERROR: IntToUint8 input: 0 to 255");
    return static_cast<std::uint8_t>(value);
}

int CardMcu::decodeFanValue(const QByteArray &reply)
{
    if (reply.size() != 2)
        return 0;
    return static_cast<quint8>(reply.at(0)) + 256 * static_cast<quint8>(reply.at(1));
}

int CardMcu::I2C_ARGB_Control(const QString &effectMode, const QString &r_color,
                              const QString &g_color, const QString &b_color,
                              const QString &speed)
{
    std::fputs(kArgbHeader, stdout);
    std::fputs("\n", stdout);
    std::fflush(stdout);
    commandSuccessCount = 0;

    const QString r = r_color.toUpper();
    const QString g = g_color.toUpper();
    const QString b = b_color.toUpper();
    const QString s = speed.toUpper();
    // These texts come from the scene and from a settings file the user may
    // have edited; a blank or brace inside one would change the transfer.
    if (!isByteText(effectMode) || !isByteText(r) || !isByteText(g) || !isByteText(b)
        || !isByteText(s)) {
        qWarning().noquote() << "ARGB Control: effect, colour and speed must be one or two "
                                "hexadecimal digits; nothing sent";
        lastCommandStatus = static_cast<std::int32_t>(platform::kErrorInvalidParameter);
        return commandSuccessCount;
    }

    Connection connection(i2cDevicePath, lastOpenError);
    if (connection.deviceMissing())
        return commandSuccessCount = kDriverNotOpened;
    if (!connection.opened())
        return commandSuccessCount;

    // One LED is red, blue, green on this card, not red, green, blue.
    const QString led = QLatin1Char(' ') + r + QLatin1Char(' ') + b + QLatin1Char(' ') + g;
    const QString longWrite = QStringLiteral("Write {03 20") + led.repeated(kLedsPerLongWrite)
        + QLatin1Char('}');
    const QString shortWrite = QStringLiteral("Write {03 11") + led.repeated(kLedsPerShortWrite)
        + QLatin1Char('}');
    const QString modeWrite = QStringLiteral("Write {02 ") + effectMode + QLatin1Char(' ') + s
        + QLatin1Char('}');

    runCounted(kOpenTarget);
    pause();
    runCounted(kSelectColour);
    pause();
    runBuilt(longWrite);
    pause();
    runBuilt(longWrite);
    pause();
    runBuilt(shortWrite);
    pause();
    runCounted(kSelectLighting);
    pause();
    runBuilt(modeWrite);
    pause();
    runCounted(kLightingDone);
    pause();
    runCounted(kCommit);
    return commandSuccessCount;
}

// Both control switches send the same sequence around one mode write:
// command byte 80 moves the fan, 81 the lighting. Only the lighting switch
// pauses after the mode write; the card takes the fan's next write at once.
int CardMcu::runControlSwitch(const char *header, const QString &modePrefix, int controlMode,
                              bool pauseAfterModeWrite)
{
    logHeader(header);
    commandSuccessCount = 0;
    Connection connection(i2cDevicePath, lastOpenError);
    if (connection.deviceMissing())
        return commandSuccessCount = kDriverNotOpened;
    if (!connection.opened())
        return commandSuccessCount;

    runCounted(kOpenTarget);
    pause();
    runCounted(kSelectLighting);
    pause();
    if (controlMode == 0)
        runCounted(modePrefix + QStringLiteral(" 00}"));
    else if (controlMode == 1)
        runCounted(modePrefix + QStringLiteral(" 01}"));
    if (pauseAfterModeWrite)
        pause();
    runCounted(kLightingDone);
    pause();
    runCounted(kCommit);
    return commandSuccessCount;
}

int CardMcu::I2C_Switch_GPU_MCU_Control(int controlMode)
{
    return runControlSwitch(kGpuMcuHeader, QStringLiteral("Write {02 80"), controlMode, false);
}

int CardMcu::I2C_Switch_to_Sync_Motherboard_Control(int controlMode)
{
    return runControlSwitch(kSyncMbHeader, QStringLiteral("Write {02 81"), controlMode, true);
}

int CardMcu::I2C_Fan_Control(int speed)
{
    logHeader(kFanControlHeader);
    commandSuccessCount = 0;
    Connection connection(i2cDevicePath, lastOpenError);
    // Unlike the switches this one reports a missing driver as 0.
    if (!connection.opened())
        return commandSuccessCount;

    runCounted(kOpenTarget);
    pause();
    runCounted(kSelectFanDuty);
    pause();
    std::uint8_t duty = 0;
    try {
        duty = IntToUint8(speed);
    } catch (const std::out_of_range &) {
        connection.close();
        throw;
    }
    const QString dutyText = QStringLiteral("%1").arg(unsigned(duty), 2, 16, QLatin1Char('0'));
    runBuilt(QStringLiteral("Write {01 ") + dutyText.toUpper() + QLatin1Char('}'));
    return commandSuccessCount;
}

int CardMcu::Read_I2C_Fan_PWM()
{
    logHeader(kFanReadHeader);
    Connection connection(i2cDevicePath, lastOpenError);
    if (!connection.opened())
        return 0;

    runQuiet(kOpenTarget);
    pause();
    runQuiet(kSelectFanValue);
    pause();
    readInto(kReadValue82);
    pause();
    return decodeFanValue(i2cReplyBuffer);
}

QByteArray CardMcu::I2C_Read_ARGB_Value(int readMode)
{
    logHeader(kArgbReadHeader);
    Connection connection(i2cDevicePath, lastOpenError);
    if (!connection.opened())
        return i2cReplyBuffer;

    runQuiet(kOpenTarget);
    pause();
    runQuiet(kSelectColour);
    pause();
    if (readMode == 0) {
        // The block is read for the card's sake only; its data is not kept.
        runQuiet(kReadColourBlock);
        pause();
        runQuiet(kReadColourBlock);
        pause();
        runQuiet(kReadColourBlock);
    } else if (readMode == 1) {
        readInto(kReadColour);
    }
    return i2cReplyBuffer;
}

// The three register reads share one shape: select what register 82 (or 86)
// answers with, then read it.
QByteArray CardMcu::selectAndRead(const char *header, const char *select, const char *read,
                                  bool pauseAfterRead)
{
    logHeader(header);
    Connection connection(i2cDevicePath, lastOpenError);
    if (!connection.opened())
        return i2cReplyBuffer;

    runQuiet(kOpenTarget);
    pause();
    runQuiet(select);
    pause();
    readInto(read);
    if (pauseAfterRead)
        pause();
    return i2cReplyBuffer;
}

QByteArray CardMcu::I2C_Read_ARGB_Effect_Speed()
{
    return selectAndRead(kArgbReadHeader, kSelectLighting, kReadValue82, false);
}

QByteArray CardMcu::Read_Check_MB_Sync_Cable()
{
    return selectAndRead(kSyncCableHeader, kSelectSyncCable, kReadValue82, false);
}

QByteArray CardMcu::I2C_Read_FW_Version()
{
    return selectAndRead(kFirmwareHeader, kSelectFirmware, kReadFirmware, true);
}

} // namespace mcu
