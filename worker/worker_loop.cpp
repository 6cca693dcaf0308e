// The body of the worker thread: the start-up sequence, then one pass per
// request code. Between passes the thread waits until its next pass is due or
// a request arrives, whichever comes first.

#include "worker/gpu_worker.h"

#include "gpu/gpu_information.h"
#include "mcu/card_mcu.h"
#include "maintenance/http_stream.h"
#include "worker/protocol.h"
#include "worker/settingsfiles.h"

#include <QCoreApplication>
#include <QDebug>

#include <algorithm>
#include <exception>
#include <iostream>

namespace {

using mcu::kLightingCommands;
using mcu::kSwitchCommands;
using mcu::kFanCommands;
using mcu::kAfterFanSwitchMs;
using mcu::kDriverNotOpened;

constexpr int kPassPauseMs = 100;
constexpr int kMonitorPauseMs = 1000;
constexpr int kRestoreDelayMs = 4000;
constexpr int kRefreshDelayMs = 1000;
// The marker is read when it changes. The poll covers a change the watcher
// missed: seldom while the file is watched, at the monitoring pass rate when
// it cannot be (a file system that reports no changes).
constexpr int kMarkerWatchedPollMs = 10000;
constexpr int kMarkerPollMs = 1100;
constexpr int kBeforeLightingMs = 80;


constexpr int kFirstEffect = 1;
constexpr int kLastEffect = 13;

const char kRefreshHeader[] =
    "\n\n----------------- Get_GPU_CPU_Memory_Mainboard_Information ----------------- ";
const char kUpdateHeader[] =
    "======================== check new version and update ================================";

const QMap<QString, int> &speedTable()
{
    static const QMap<QString, int> table = [] {
        QMap<QString, int> t;
        for (int position = Speed::kSlowest; position <= Speed::kFastest; ++position)
            t.insert(Speed::byteOf(position), position);
        return t;
    }();
    return table;
}

// The card takes the effect as two upper-case hexadecimal digits: 10 -> "0A".
QString effectText(int effect)
{
    return QString::number(effect, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

// Log lines are whole texts: a label and its value, joined as written.
void logText(const QString &text) { qDebug().noquote() << text; }

void logStopped()
{
    logText(QStringLiteral("Stop Worker ThreadID: ")
            + QString::number(reinterpret_cast<quintptr>(QThread::currentThreadId())));
}

} // namespace

// ------------------------------------------------------------------ helpers

void GPU_WORKER::emitReply() { emit dataChanged(dictDataToQML); }

void GPU_WORKER::sleepMs(int ms) { ops.pacer->sleepMs(ms); }

void GPU_WORKER::save()
{
    settingsfiles::writeSettings(QVariantList{userControlData}, userDataPath);
    logText(QStringLiteral("userData path: ") + userDataPath);
}

GPU_WORKER::TakenRequest GPU_WORKER::takeRequest()
{
    std::lock_guard<std::mutex> lock(requestMutex);
    TakenRequest taken = pendingCommands.isEmpty()
        ? TakenRequest{dictDataFromQML, modeSequence, 0}
        : pendingCommands.takeFirst();
    taken.seen = requestSequence;
    return taken;
}

void GPU_WORKER::setPendingFunction(int function, quint64 sequence)
{
    std::lock_guard<std::mutex> lock(requestMutex);
    if (modeSequence <= sequence)
        dictDataFromQML[Key::Function] = function;
}

bool GPU_WORKER::newerRequestSince(quint64 seen)
{
    std::lock_guard<std::mutex> lock(requestMutex);
    return !pendingCommands.isEmpty() || requestSequence > seen;
}

void GPU_WORKER::restoreIfDue()
{
    if (reapplyRequested.exchange(false)) {
        logText(QStringLiteral("Applying the saved lighting and fan again"));
        startUpRestore();
    }
    if (restoreArmed && ops.pacer->nowMs() >= restoreAtMs) {
        restoreArmed = false;
        startUpRestoreDone = true;
        startUpRestore();
    }
}

void GPU_WORKER::pauseAfterPass(int f, quint64 seen)
{
    // Whatever arrived during the pass is taken at once.
    int mode = Request::Idle;
    {
        std::lock_guard<std::mutex> lock(requestMutex);
        mode = dictDataFromQML.value(Key::Function).toInt();
    }
    int ms = worker::Pacer::kForever; // idle: until the next request
    if (mode == Request::Monitor)
        ms = Request::isOneShot(f) ? kPassPauseMs : kMonitorPauseMs + kPassPauseMs;
    else if (mode == Request::WatchMarker)
        ms = Request::isOneShot(f) ? kPassPauseMs
            : markerWatched                ? kMarkerWatchedPollMs
                                           : kMarkerPollMs;
    qint64 end = ms < 0 ? -1 : ops.pacer->nowMs() + ms;
    if (restoreArmed && (end < 0 || restoreAtMs < end))
        end = restoreAtMs;
    if (fanCurve && !curvePaused && (end < 0 || curveDueMs < end))
        end = curveDueMs;
    // A wake with nothing behind it (a request already taken) does not cut
    // the pause short.
    for (;;) {
        if (stopFlag || reapplyRequested || sleepRequested || newerRequestSince(seen)
            || (mode == Request::WatchMarker && markerTouched))
            return;
        const qint64 left = end < 0 ? worker::Pacer::kForever : end - ops.pacer->nowMs();
        if (end >= 0 && left <= 0)
            return;
        if (!ops.pacer->waitMs(int(left)))
            return;
    }
}

// ------------------------------------------------------------------- run

void GPU_WORKER::run()
{
    try {
        startUpSequence();
    } catch (const std::exception &e) {
        std::cerr << "Caught exception: " << e.what() << std::endl;
    }
    // The scene waits for this reply to show the saved choices: it goes out
    // even when a step before it failed.
    replyStartUp();
    emit choicesSaved(Reply::StartUp, userControlData);
    {
        // Whatever the scene sent while the sequence ran gives way to monitoring.
        std::lock_guard<std::mutex> lock(requestMutex);
        dictDataFromQML[Key::Function] = int(Request::Monitor);
    }

    // Whatever way the loop ends, a fan the curve drives goes back to the GPU
    // before the thread does.
    const auto leave = [this] {
        if (fanCurve && fanCurve->fanWithMcu()) {
            try {
                giveFanBackFromCurve("the program ends");
            } catch (const std::exception &e) {
                std::cerr << "Caught exception: " << e.what() << std::endl;
            }
        }
        logStopped();
        markLoopEnded();
    };
    for (;;) {
        if (stopFlag) {
            leave();
            return;
        }
        const TakenRequest taken = takeRequest();
        const int f = taken.request.value(Key::Function).toInt();
        try {
            serveSleepRequest();
            restoreIfDue();
            if (f != Request::Monitor && curveDue())
                stepFanCurve(false);
            performPass(f, taken.request, taken.sequence);
            if (Request::savesSettings(f)) {
                save();
                emit choicesSaved(f, userControlData);
            }
        } catch (const std::exception &e) {
            // One bad pass must not cost the user the whole worker: drop this
            // pass, put a one-shot command back to idle and keep serving.
            std::cerr << "Caught exception: " << e.what() << std::endl;
            if (Request::isOneShot(f))
                setPendingFunction(Request::Idle, taken.sequence);
        }
        if (stopFlag) {
            leave();
            return;
        }
        pauseAfterPass(f, taken.seen);
    }
}

void GPU_WORKER::fullRefresh()
{
    Get_GPU_Information();
    MonitorInfoDict[Key::CpuName] = GetCPUInfo();
    GetMemoryInfo();
    GetMotherboardInfo();
    const worker::TelemetryRates rates = ops.gpu->rates();
    // A rate the card cannot give reaches the page as no value, never as 0.
    MonitorInfoDict[Key::PsysPower] = gpu::reading(rates.boardPower);
    MonitorInfoDict[Key::GpuChipPower] = gpu::reading(rates.chipPower);
    MonitorInfoDict[Key::GpuUtilization] = gpu::reading(rates.utilisation * 100.0);
}

void GPU_WORKER::startUpSequence()
{
    userControlData = settingsfiles::readSettings(userDataPath);
    if (!settingsfiles::repairSettings(userControlData).isEmpty())
        save();
    logText(QStringLiteral("displayMode: ") + userControlData[Key::DisplayMode].toString());

    MonitorInfoDict.clear();
    fullRefresh();

    appVersion = settingsfiles::readVersion(versionFilePath, userControlData);

    MonitorInfoDict[Key::UpdateApp] = 0;
    serverVersionInfo = check_NewVersionFromServer();
    for (auto it = serverVersionInfo.cbegin(); it != serverVersionInfo.cend(); ++it) {
        logText(QStringLiteral("Category: ") + maintenance::loggable(it.key()));
        if (it.key() != Value::Software)
            continue;
        for (const QVariant &element : it.value()) {
            const QVariantMap entry = element.toMap();
            const QString version = entry.value(Key::Version).toString();
            logText(QStringLiteral("  Name: ") + maintenance::loggable(entry.value(Key::Name).toString()));
            logText(QStringLiteral("  Version: ") + maintenance::loggable(version));
            logText(QStringLiteral("  Download Link: ")
                    + maintenance::loggable(entry.value(Key::DownloadLink).toString()));
            userControlData[Key::ServerVersion] = version;
            if (version != appVersion)
                MonitorInfoDict[Key::UpdateApp] = 1;
        }
    }

    dictDataToQML[Key::AppVersion] = appVersion;
    userControlData[Key::AppVersion] = appVersion;
}

void GPU_WORKER::replyStartUp()
{
    dictDataToQML[Key::Function] = int(Reply::StartUp);
    dictDataToQML[Key::MonitorInfoDict] = MonitorInfoDict;
    dictDataToQML[Key::UserControlData] = userControlData;
    dictDataToQML[Key::StartGUI] = settingsfiles::readMarker(markerPath());
    emitReply();
}

// ---------------------------------------------------------------- handlers

void GPU_WORKER::performPass(int f, const QVariantMap &request, quint64 sequence)
{
    switch (f) {
    case Request::ArgbControl:
        lightingRequest(request, true, Reply::ArgbControl);
        break;
    case Request::ArgbSwitch:
        lightingRequest(request, false, Reply::ArgbSwitch);
        break;
    case Request::SwitchFanControl: {
        stopFanCurve();
        const int mode = request.value(Key::ControlMode).toInt();
        const int r = I2C_Switch_GPU_MCU_Control(mode);
        int result = 1;
        if (r == kSwitchCommands) {
            result = 0;
            if (mode == 0) {
                logText(QStringLiteral("switch to MCU successful"));
                userControlData[Key::FanControlMode] = QString(Value::Mcu);
            } else {
                logText(QStringLiteral("switch to GPU successful"));
                userControlData[Key::FanControlMode] = QString(Value::Gpu);
            }
        }
        dictDataToQML[Key::Function] = int(Reply::SwitchFanControl);
        dictDataToQML[Key::ResultCheck] = result;
        emitReply();
        break;
    }
    case Request::FanDuty: {
        const bool leavesCurve = fanCurve != nullptr;
        stopFanCurve();
        I2C_Switch_GPU_MCU_Control(0);
        // A fixed duty after the curve: the next start must not bring the
        // curve back.
        if (leavesCurve || userControlData.value(Key::FanControlMode).toString() == Value::Curve)
            userControlData[Key::FanControlMode] = QString(Value::Mcu);
        userControlData[Key::FanControlBtn] = request.value(Key::FanControlBtn).toInt();
        const int duty = request.value(Key::FanSpeed).toInt();
        const int r = I2C_Fan_Control(duty);
        if (r == kFanCommands)
            userControlData[Key::FanSpeed] = duty;
        dictDataToQML[Key::Function] = int(Reply::FanDuty);
        dictDataToQML[Key::FanSpeedSetting] = duty;
        dictDataToQML[Key::ResultCheck] = r == kFanCommands ? 0 : 1;
        emitReply();
        break;
    }
    case Request::ReadFanPwm: {
        const int value = Read_I2C_Fan_PWM();
        logText(QStringLiteral("FAN PWM: ") + QString::number(value) + QStringLiteral(" rpm"));
        break;
    }
    case Request::ReadArgbValue:
        i2cReplyBuffer = I2C_Read_ARGB_Value(request.value(Key::ReadMode).toInt());
        if (i2cReplyBuffer.size() == 4) {
            logText(QStringLiteral("r_color: ") + QString::number(quint8(i2cReplyBuffer.at(1))));
            logText(QStringLiteral("g_color: ") + QString::number(quint8(i2cReplyBuffer.at(2))));
            logText(QStringLiteral("b_color: ") + QString::number(quint8(i2cReplyBuffer.at(3))));
        }
        break;
    case Request::ReadArgbEffectSpeed:
        i2cReplyBuffer = I2C_Read_ARGB_Effect_Speed();
        if (i2cReplyBuffer.size() == 2) {
            const int effect = quint8(i2cReplyBuffer.at(0));
            const QString speedText = QString::number(quint8(i2cReplyBuffer.at(1)), 16)
                                          .rightJustified(2, QLatin1Char('0'))
                                          .toUpper();
            logText(QStringLiteral("rgbEffect: ") + QString::number(effect));
            logText(QStringLiteral("effectSpeed: ") + speedText);
            logText(QStringLiteral("effectSpeed int: ") + QString::number(speedTable().value(speedText, -1)));
        }
        break;
    case Request::FanToGpu:
        stopFanCurve();
        I2C_Switch_GPU_MCU_Control(1);
        userControlData[Key::FanControlMode] = QString(Value::Gpu);
        setPendingFunction(Request::Monitor, sequence);
        return; // monitoring follows; not back to idle
    case Request::SyncMotherboard: {
        const int r = I2C_Switch_to_Sync_Motherboard_Control(1);
        userControlData[Key::RGB] = QString(Value::On);
        userControlData[Key::RGBControlMode] = QString(Value::Mb);
        logSyncCable();
        dictDataToQML[Key::Function] = int(Reply::SyncMotherboard);
        dictDataToQML[Key::ResultCheck] = r != kSwitchCommands ? 1 : 0;
        emitReply();
        break;
    }
    case Request::LeaveMotherboardSync:
        I2C_Switch_to_Sync_Motherboard_Control(0);
        userControlData[Key::RGBControlMode] = QString(Value::Mcu);
        logSyncCable();
        break;
    case Request::Refresh:
        logText(QLatin1String(kRefreshHeader));
        sleepMs(kRefreshDelayMs);
        fullRefresh();
        dictDataToQML[Key::Function] = int(Reply::Refresh);
        dictDataToQML[Key::MonitorInfoDict] = MonitorInfoDict;
        emitReply();
        break;
    case Request::StoreTheme:
        userControlData[Key::DisplayMode] = request.value(Key::DisplayMode).toInt();
        break;
    case Request::Update:
        updateRequest();
        break;
    case Request::OpenRgbServer:
        userControlData[Key::OpenRgbServer] = request.value(Key::OpenRgbServer).toBool();
        break;
    case Request::ReadFirmwareVersion: {
        // Six bytes nobody decodes: shown as they are, in hexadecimal.
        const QByteArray version = I2C_Read_FW_Version();
        QStringList bytes;
        for (char b : version)
            bytes << QString::number(quint8(b), 16).toUpper().rightJustified(2, QLatin1Char('0'));
        dictDataToQML[Key::Function] = int(Reply::FirmwareVersion);
        dictDataToQML[Key::FirmwareVersion] = version.size() == 6 ? bytes.join(QLatin1Char('.')) : QString();
        emitReply();
        dictDataToQML.remove(Key::FirmwareVersion);
        break;
    }
    case Request::SaveOnly:
    case Request::Nothing:
        break;
    case Request::ReinstallDriver:
        reinstallDriverRequest();
        break;
    case Request::FanCurve:
        fanCurveRequest(request);
        break;
    case Request::Monitor:
        logText(QLatin1String(kRefreshHeader));
        fullRefresh();
        stepFanCurve(true);
        dictDataToQML[Key::Function] = int(Reply::Monitor);
        dictDataToQML[Key::MonitorInfoDict] = MonitorInfoDict;
        emitReply();
        if (!restoreArmed && !startUpRestoreDone) {
            restoreArmed = true;
            restoreAtMs = ops.pacer->nowMs() + kMonitorPauseMs + kRestoreDelayMs;
        }
        return;
    case Request::WatchMarker:
        markerTouched = false;
        if (settingsfiles::pollMarker(markerPath()) == 1) {
            dictDataToQML[Key::Function] = int(Reply::ShowWindow);
            dictDataToQML[Key::StartGUI] = 1;
            emitReply();
            settingsfiles::writeText(markerPath(), QStringLiteral("0"));
            setPendingFunction(Request::Idle, sequence);
        }
        return;
    default:
        return; // idle
    }
    setPendingFunction(Request::Idle, sequence);
}

void GPU_WORKER::logSyncCable()
{
    i2cReplyBuffer = Read_Check_MB_Sync_Cable();
    if (i2cReplyBuffer.size() == 2) {
        logText(QStringLiteral("outputArray[0]: ") + QString::number(quint8(i2cReplyBuffer.at(0))));
        logText(QStringLiteral("outputArray[1]: ") + QString::number(quint8(i2cReplyBuffer.at(1))));
    }
}

void GPU_WORKER::lightingRequest(const QVariantMap &request, bool storeChoices, int replyCode)
{
    const int r1 = I2C_Switch_to_Sync_Motherboard_Control(0);
    dictDataToQML[Key::ResultCheckSwitchMcuMb] = 0;
    if (r1 != kSwitchCommands)
        dictDataToQML[Key::ResultCheckSwitchMcuMb] = 1;

    userControlData[Key::RGB] = request.value(Key::RGB).toString();
    userControlData[Key::DisplayMode] = request.value(Key::DisplayMode).toInt();
    userControlData[Key::RGBControlMode] = QString(Value::Mcu);

    const int effect = request.value(Key::Effect).toInt();
    if (effect < kFirstEffect || effect > kLastEffect)
        return;

    const QString r = request.value(Key::RHex).toString();
    const QString g = request.value(Key::GHex).toString();
    const QString b = request.value(Key::BHex).toString();
    const QString speed = request.value(Key::Speed).toString();
    if (storeChoices) {
        userControlData[Key::RHex] = r;
        userControlData[Key::GHex] = g;
        userControlData[Key::BHex] = b;
        userControlData[Key::Speed] = speed;
        userControlData[Key::ArgbEffect] = request.value(Key::Effect).toString();
        userControlData[Key::ARGBSliderSpeed] = request.value(Key::ARGBSliderSpeed).toInt();
    }

    sleepMs(kBeforeLightingMs);
    dictDataToQML[Key::ResultCheckArgbControl] = 0;
    const int r2 = I2C_ARGB_Control(effectText(effect), r, g, b, speed);
    if (r2 != kLightingCommands) {
        dictDataToQML[Key::ResultCheckArgbControl] = 1;
        // The card may have taken the effect although a transfer failed.
        i2cReplyBuffer = I2C_Read_ARGB_Effect_Speed();
        const int readBack = i2cReplyBuffer.isEmpty() ? 0 : quint8(i2cReplyBuffer.at(0));
        logText(QStringLiteral("rgbEffect: ") + QString::number(readBack));
        if (readBack == effect)
            dictDataToQML[Key::ResultCheckArgbControl] = 0;
    }
    dictDataToQML[Key::Function] = replyCode;
    emitReply();
}

void GPU_WORKER::updateRequest()
{
    logText(QLatin1String(kUpdateHeader));
    int attempts = 0;
    serverVersionInfo = check_NewVersionFromServer();
    for (auto it = serverVersionInfo.cbegin(); it != serverVersionInfo.cend(); ++it) {
        logText(QStringLiteral("Category: ") + maintenance::loggable(it.key()));
        if (it.key() != Value::Software)
            continue;
        for (const QVariant &element : it.value()) {
            const QVariantMap entry = element.toMap();
            const QString version = entry.value(Key::Version).toString();
            const QString link = entry.value(Key::DownloadLink).toString();
            logText(QStringLiteral("  Name: ") + maintenance::loggable(entry.value(Key::Name).toString()));
            logText(QStringLiteral("  Version: ") + maintenance::loggable(version));
            logText(QStringLiteral("  Download Link: ") + maintenance::loggable(link));
            if (version == appVersion)
                continue;

            // A manifest entry must never choose where a file is written.
            const QString savePath = ops.maintenance->installerSavePath(version);
            if (savePath.isEmpty()) {
                qWarning().noquote() << "Update entry skipped, its version cannot name a file:"
                                     << maintenance::loggable(version);
                continue;
            }

            dictDataToQML[Key::Function] = int(Reply::Update);
            dictDataToQML[Key::DownloadFile] = 1;
            dictDataToQML[Key::InstallApp] = 0;
            dictDataToQML[Key::NewVersion] = version;
            dictDataToQML[Key::AppVersion] = appVersion;
            // A progress left from an earlier download would read as done.
            dictDataToQML.remove(Key::Progress);
            emitReply();

            ++attempts;
            if (downloadFileFromServer(link.toStdWString(), savePath.toStdWString(),
                                       entry.value(Key::Sha256).toString())) {
                std::cout << "File downloaded successfully!" << std::endl;
                ops.maintenance->runInstaller(savePath);
            } else {
                std::cout << "Download failed!" << std::endl;
                reportUpdateFailure(ops.maintenance->lastFailure());
            }
            dictDataToQML[Key::InstallApp] = 0;
        }
    }
    // The download screen waits for an outcome: say why nothing came.
    if (attempts == 0)
        reportUpdateFailure(serverVersionInfo.isEmpty()
                                ? QStringLiteral("The update server could not be reached.")
                                : QStringLiteral("No update is available for this version."));
}

void GPU_WORKER::reportUpdateFailure(const QString &why)
{
    dictDataToQML[Key::Function] = int(Reply::Update);
    dictDataToQML[Key::DownloadResult] = 1;
    dictDataToQML.remove(Key::Progress);
    dictDataToQML[Key::FailureText] =
        why.isEmpty() ? QStringLiteral("The download did not finish.") : why;
    emitReply();
    // Later replies must not carry this outcome along.
    dictDataToQML.remove(Key::DownloadResult);
    dictDataToQML.remove(Key::FailureText);
}

void GPU_WORKER::reinstallDriverRequest()
{
    const QString dir = QCoreApplication::applicationDirPath();
    logText(QStringLiteral("Current dir path: ") + dir);
    const QString inf = dir + QStringLiteral("/NF_I2CPeripheralDriver/NfI2cTestDrv.inf");
    logText(QStringLiteral("inf_filePath path: ") + inf);
    const bool ok = installDriverWithPnPUtil(inf);
    if (ok)
        logText(QStringLiteral("Installation succeeded or installation process started."));
    else
        logText(QStringLiteral("Installation failed or was canceled by the user."));
    dictDataToQML[Key::Function] = int(Reply::ReinstallDriver);
    dictDataToQML[Key::ResultCheck] = ok ? 0 : 1;
    if (!ok)
        dictDataToQML[Key::FailureText] = ops.maintenance->lastFailure();
    emitReply();
    dictDataToQML.remove(Key::FailureText);
}

void GPU_WORKER::startUpRestore()
{
    int errors = 0;
    // What did not fully reach the card, whatever the reason; errors above
    // counts only the driver that could not be opened.
    bool lightingMissed = false, fanMissed = false;
    const auto lighting = [&](int r, int full) {
        lightingMissed = lightingMissed || r != full;
        return r;
    };
    const auto fan = [&](int r, int full) {
        fanMissed = fanMissed || r != full;
        return r;
    };
    // Settings are looked up through the inserting index: a missing key is
    // added empty, matches none of the modes, and is saved as null.
    if (userControlData[Key::RGB].toString() == Value::Off) {
        logText(QStringLiteral("========================================== RGB OFF"));
        lighting(I2C_Switch_to_Sync_Motherboard_Control(0), kSwitchCommands);
        const int r = lighting(I2C_ARGB_Control(QStringLiteral("01"), QStringLiteral("00"),
                                                QStringLiteral("00"), QStringLiteral("00"),
                                                userControlData[Key::Speed].toString()),
                               kLightingCommands);
        if (r == kDriverNotOpened)
            errors = 1;
    } else if (userControlData[Key::RGBControlMode].toString() == Value::Mcu) {
        const int effect = userControlData[Key::ArgbEffect].toInt();
        if (effect >= kFirstEffect && effect <= kLastEffect) {
            const QString r = userControlData[Key::RHex].toString();
            const QString g = userControlData[Key::GHex].toString();
            const QString b = userControlData[Key::BHex].toString();
            const QString speed = userControlData[Key::Speed].toString();
            sleepMs(kBeforeLightingMs);
            if (lighting(I2C_ARGB_Control(effectText(effect), r, g, b, speed), kLightingCommands)
                == kDriverNotOpened)
                errors = 1;
        }
        if (lighting(I2C_Switch_to_Sync_Motherboard_Control(0), kSwitchCommands) == kDriverNotOpened)
            ++errors;
    } else if (userControlData[Key::RGBControlMode].toString() == Value::Mb) {
        if (lighting(I2C_Switch_to_Sync_Motherboard_Control(1), kSwitchCommands) == kDriverNotOpened)
            errors = 1;
    }

    const QString fanMode = userControlData[Key::FanControlMode].toString();
    if (fanMode == Value::Gpu) {
        if (fan(I2C_Switch_GPU_MCU_Control(1), kSwitchCommands) == kDriverNotOpened)
            ++errors;
    } else if (fanMode == Value::Mcu) {
        const int r = fan(I2C_Switch_GPU_MCU_Control(0), kSwitchCommands);
        sleepMs(kAfterFanSwitchMs);
        if (r == kDriverNotOpened)
            ++errors;
        fan(I2C_Fan_Control(userControlData[Key::FanSpeed].toInt()), kFanCommands);
    } else if (fanMode == Value::Curve) {
        // Checked on load: the curve here is one that may run.
        lastCurveSwitchResult = 0;
        curveWriteFailed = false;
        startFanCurve(mcu::curveFromVariant(userControlData.value(Key::FanCurve)));
        stepFanCurve(false);
        fanMissed = fanMissed || curveWriteFailed;
        if (lastCurveSwitchResult == kDriverNotOpened)
            ++errors;
    }

    if (errors > 1) {
        logText(QStringLiteral("ERROR: ") + QString::number(errors));
        dictDataToQML[Key::Function] = int(Reply::RestoreDriverFailed);
        dictDataToQML[Key::DriverBusy] = ops.card->heldByKernelDriver();
        emitReply();
    }
    if (lightingMissed || fanMissed) {
        logText(QStringLiteral("Saved choices not applied:") + (lightingMissed ? " lighting" : "")
                + (fanMissed ? " fan" : ""));
        emit savedChoicesNotApplied(lightingMissed, fanMissed);
    }
    // The line a reader of the log, or a test, knows the restore's end by.
    logText(QStringLiteral("Saved lighting and fan sent"));
}
