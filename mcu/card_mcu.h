#pragma once
// The card microcontroller's lighting and fan operations. Each one opens its
// own driver connection, sends a fixed series of command texts 20 ms apart
// and closes the connection again, so the card may vanish between two calls.
// Only one thread may use the card at a time: the driver connection is
// process-wide.

#include "platform/known_card.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>

namespace mcu {

// Longest command text that is built at run time; the interpreter copies it
// into a 124-byte buffer together with its terminator.
constexpr int kMaxBuiltCommandLength = 123;

// What the control operations below return when every command text of
// theirs succeeded, and when the driver could not be opened at all.
constexpr int kLightingCommands = 9;
constexpr int kSwitchCommands = 5;
constexpr int kFanCommands = 3;
constexpr int kDriverNotOpened = -2;
// The card takes a duty only this long after the fan was switched to it.
constexpr int kAfterFanSwitchMs = 80;

// Pauses between transfers go through this, so tests need not wait.
using SleepFn = std::function<void(unsigned ms)>;

class CardMcu {
public:
    explicit CardMcu(std::string devicePath = known_card::kDevicePath, SleepFn sleep = {});

    // Control operations: the number of command texts that succeeded, or -2
    // when the driver could not be opened (the fan duty reports 0 then).
    // Colour and speed are one or two hexadecimal digits each; anything else
    // fails the whole lighting command before any transfer.
    int I2C_ARGB_Control(const QString &effectMode, const QString &r_color,
                         const QString &g_color, const QString &b_color, const QString &speed);
    int I2C_Switch_GPU_MCU_Control(int controlMode);
    int I2C_Switch_to_Sync_Motherboard_Control(int controlMode);
    // Throws std::out_of_range for a duty outside 0..255, after "open 0" and
    // the duty register select went out, with the connection already closed.
    int I2C_Fan_Control(int speed);

    // Reads: they store their reply in i2cReplyBuffer and return a copy.
    int Read_I2C_Fan_PWM();
    QByteArray I2C_Read_ARGB_Value(int readMode);
    QByteArray I2C_Read_ARGB_Effect_Speed();
    QByteArray Read_Check_MB_Sync_Cable();
    QByteArray I2C_Read_FW_Version();

    // A 2-byte reply as an unsigned little-endian value; 0 for any other size.
    static int decodeFanValue(const QByteArray &reply);
    static std::uint8_t IntToUint8(int value);
    // True for one or two hexadecimal digits, the only form a colour or speed
    // may take inside a command text.
    static bool isByteText(const QString &text);

    std::string i2cDevicePath;
    QByteArray i2cReplyBuffer;
    std::int32_t lastCommandStatus = -1;
    std::int32_t commandSuccessCount = 0;
    // Why the last open of the card's device failed (a Windows error code:
    // 170 while a kernel driver holds the card's address); 0 once it opened.
    std::uint32_t lastOpenError = 0;

private:
    class Connection;

    void pause();
    // Sends one text of a control operation and counts it.
    void runCounted(const QString &text);
    // Same, for a text assembled from caller data: refused unsent when it would
    // overflow the interpreter's buffer.
    void runBuilt(const QString &text);
    void runQuiet(const QString &text);
    void readInto(const QString &text);
    int runControlSwitch(const char *header, const QString &modePrefix, int controlMode,
                         bool pauseAfterModeWrite);
    QByteArray selectAndRead(const char *header, const char *select, const char *read,
                             bool pauseAfterRead);
    void recordStatus(std::uint32_t status);

    SleepFn sleep_;
};

} // namespace mcu
