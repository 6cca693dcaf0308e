#pragma once
// The dictionary protocol between the scene and the worker: every request and
// reply code, every key and the tables both sides read, declared once. The
// scene gets the codes and tables from here (qml/vocabulary.cpp), so the two
// cannot drift apart.

#include <QLatin1String>
#include <QObject>
#include <QStringList>

namespace Request {
Q_NAMESPACE
enum Code : int {
    Idle = -1,
    None = 0,
    ArgbControl = 1,
    SwitchFanControl = 2,
    FanDuty = 3,
    ReadFanPwm = 4,
    ReadArgbValue = 5,
    ReadArgbEffectSpeed = 6,
    FanToGpu = 7,
    SyncMotherboard = 8,
    LeaveMotherboardSync = 9,
    Refresh = 10,
    StoreTheme = 11,
    Update = 12,
    ArgbSwitch = 13,
    SaveOnly = 14,
    Nothing = 15,
    ReinstallDriver = 16,
    FanCurve = 17,
    OpenRgbServer = 18,
    ReadFirmwareVersion = 19,
    Monitor = 100,
    WatchMarker = 101,
};
Q_ENUM_NS(Code)
// Performed once, then the worker goes back to idle; every other code is a
// mode that repeats until the next request.
inline bool isOneShot(int function) { return function >= ArgbControl && function <= ReadFirmwareVersion; }
// The commands after which the user's choices are written to the settings
// file. The three reads of the card's own state change none of them.
inline bool savesSettings(int function)
{
    const bool readsTheCard = function >= ReadFanPwm && function <= ReadArgbEffectSpeed;
    return (function >= ArgbControl && function <= SaveOnly && !readsTheCard) || function == FanCurve
           || function == OpenRgbServer;
}
}

namespace Reply {
Q_NAMESPACE
enum Code : int {
    RestoreDriverFailed = -2,
    StartUp = 0,
    ArgbControl = 1,
    SwitchFanControl = 2,
    FanDuty = 3,
    SyncMotherboard = 8,
    Refresh = 10,
    Update = 12,
    ArgbSwitch = 13,
    ReinstallDriver = 16,
    FanCurve = 17,
    FirmwareVersion = 19,
    Monitor = 100,
    ShowWindow = 101,
};
Q_ENUM_NS(Code)
}

// The lighting speed slider: positions from slow to fast, and the byte the
// card takes for each.
namespace Speed {
constexpr int kSlowest = 1;
constexpr int kFastest = 5;
constexpr int kDefault = 3;
constexpr const char *kBytes[] = {"02", "01", "00", "FF", "FE"}; // kSlowest first
static_assert(sizeof kBytes / sizeof kBytes[0] == kFastest - kSlowest + 1, "one byte per position");

inline bool isPosition(int position) { return position >= kSlowest && position <= kFastest; }
// The byte of a position; nothing for a position off the slider.
inline QString byteOf(int position)
{
    return isPosition(position) ? QString::fromLatin1(kBytes[position - kSlowest]) : QString();
}
// The position of a byte, 0 for a byte the card does not take.
inline int positionOf(const QString &byte)
{
    for (int position = kSlowest; position <= kFastest; ++position)
        if (byte == QLatin1String(kBytes[position - kSlowest]))
            return position;
    return 0;
}
inline QStringList allBytes()
{
    QStringList bytes;
    for (const char *byte : kBytes)
        bytes << QString::fromLatin1(byte);
    return bytes;
}
}

// The card's lighting effects, by the number the card takes for each, with the
// name the lighting page and OpenRGB clients show and whether the effect
// paints with the user's colour.
namespace Effect {
Q_NAMESPACE
enum Code : int {
    Static = 1,
    Breath = 2,
    Strobing = 3,
    ColorCycling = 4,
    Rainbow = 5,
    BreathRainbow = 6,
    Comet = 7,
    CometRainbow = 8,
    Flash = 9,
    FlashRainbow = 10,
    Wave = 11,
    GlowingYoyo = 12,
    StarryNight = 13,
};
Q_ENUM_NS(Code)
constexpr int kFirst = Static;
constexpr int kLast = StarryNight;
// What a new user gets and what "Default Mode" selects.
constexpr int kDefault = Rainbow;
struct Look {
    const char *name;
    bool usesColour;
};
constexpr Look kLooks[] = {
    // kFirst first
    {"Static", true},         {"Breath", true},         {"Strobing", true},
    {"Color Cycling", false}, {"Rainbow", false},       {"Breath Rainbow", false},
    {"Comet", true},          {"Comet Rainbow", false}, {"Flash", true},
    {"Flash Rainbow", false}, {"Wave", false},          {"Glowing Yoyo", false},
    {"Starry Night", false},
};
static_assert(sizeof kLooks / sizeof kLooks[0] == kLast - kFirst + 1, "one look per effect");

inline bool isEffect(int code) { return code >= kFirst && code <= kLast; }
// Only for a code isEffect() takes.
inline const Look &lookOf(int code) { return kLooks[code - kFirst]; }
}

// The fan buttons of the Monitor page, stored as "fanControlBtn". Default
// leaves the fan to the GPU and Custom runs the user's curve; the others hold
// the card's fan at a fixed duty.
namespace FanPreset {
Q_NAMESPACE
enum Index : int {
    Default = 0,
    Silent = 1,
    Medium = 2,
    Turbo = 3,
    FullSpeed = 4,
    Custom = 5,
};
Q_ENUM_NS(Index)
constexpr int kCount = Custom + 1;
constexpr int kDuty[kCount] = {0, 30, 50, 75, 100, 0}; // percent
}

namespace Key {
// message envelope
inline const QLatin1String Function("function");

// request keys
inline const QLatin1String Effect("effect");
inline const QLatin1String ControlMode("controlMode");
inline const QLatin1String ReadMode("readMode");

// reply keys
inline const QLatin1String AppVersion("appVersion");
inline const QLatin1String MonitorInfoDict("MonitorInfoDict");
inline const QLatin1String UserControlData("userControlData");
inline const QLatin1String StartGUI("startGUI");
inline const QLatin1String GpuCount("GPU_count");
inline const QLatin1String ResultCheck("resultCheck");
inline const QLatin1String ResultCheckSwitchMcuMb("resultCheck_Switch_MCU_MB");
inline const QLatin1String ResultCheckArgbControl("resultCheck_ARGB_Control");
inline const QLatin1String FanSpeedSetting("fanSpeedSetting");
inline const QLatin1String DownloadFile("downloadFile");
inline const QLatin1String InstallApp("InstallApp");
inline const QLatin1String NewVersion("new_version");
inline const QLatin1String Progress("progress");
// in reply 12 once a download is over: 0 complete, 1 failed; and in a failed
// reply 12 or 16, the reason in words for the user
inline const QLatin1String DownloadResult("downloadResult");
inline const QLatin1String FailureText("failureText");
// in reply 19: the card microcontroller's firmware version, empty when unreadable
inline const QLatin1String FirmwareVersion("firmwareVersion");
// in reply -2: true when a kernel driver holds the card's address
inline const QLatin1String DriverBusy("driverBusy");

// settings keys (userControlData); some double as request keys
inline const QLatin1String ARGBSliderSpeed("ARGBSliderSpeed");
inline const QLatin1String FanControlMode("FanControlMode");
inline const QLatin1String RGB("RGB");
inline const QLatin1String RGBControlMode("RGBControlMode");
inline const QLatin1String ArgbEffect("argb_effect");
inline const QLatin1String BHex("b_hex");
inline const QLatin1String DisplayMode("displayMode");
inline const QLatin1String FanControlBtn("fanControlBtn");
inline const QLatin1String FanSpeed("fanSpeed");
inline const QLatin1String GHex("g_hex");
inline const QLatin1String RHex("r_hex");
inline const QLatin1String ServerVersion("serverVersion");
inline const QLatin1String Speed("speed");
// [[degC, %], ...], the user's fan curve
inline const QLatin1String FanCurve("fanCurve");
// The OpenRGB SDK server: on or off (absent is off), and its port
inline const QLatin1String OpenRgbServer("openRgbServer");
inline const QLatin1String OpenRgbPort("openRgbPort");

// MonitorInfoDict keys the worker writes itself
inline const QLatin1String CpuName("CPU_Name");
inline const QLatin1String PsysPower("PsysPower");
inline const QLatin1String GpuChipPower("gpuChipPower");
inline const QLatin1String GpuUtilization("GPU_Utilization");
inline const QLatin1String UpdateApp("updateApp");
// the duty the fan curve last gave the card, -1 while no curve drives the fan
inline const QLatin1String FanCurveDuty("fanCurveDuty");

// manifest entry members
inline const QLatin1String Name("name");
inline const QLatin1String Version("version");
inline const QLatin1String DownloadLink("downloadLink");
inline const QLatin1String Sha256("sha256");
}

namespace Value {
inline const QLatin1String On("ON");
inline const QLatin1String Off("OFF");
inline const QLatin1String Mcu("MCU");
inline const QLatin1String Mb("MB");
inline const QLatin1String Gpu("GPU");
inline const QLatin1String Curve("CURVE");
inline const QLatin1String Software("software");
inline const QLatin1String DefaultAppVersion("25.04.00");
}
