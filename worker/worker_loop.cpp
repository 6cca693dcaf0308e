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
#include <QHash>

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

// The pass rate: how long the worker rests after a pass of `function` while
// the mode is `mode`.
int passPauseMs(int function, int mode, bool markerWatched)
{
    if (mode == Request::Monitor)
        return Request::isOneShot(function) ? kPassPauseMs : kMonitorPauseMs + kPassPauseMs;
    if (mode == Request::WatchMarker)
        return Request::isOneShot(function) ? kPassPauseMs
            : markerWatched                 ? kMarkerWatchedPollMs
                                            : kMarkerPollMs;
    return worker::Pacer::kForever; // idle: until the next request
}

// Logs the update server's manifest as it is walked and hands each software
// entry to `use` right after the entry's own lines.
template<typename Use>
void walkManifest(const QMap<QString, QVariantList> &manifest, Use use)
{
    for (auto it = manifest.cbegin(); it != manifest.cend(); ++it) {
        logText(QStringLiteral("Category: ") + maintenance::loggable(it.key()));
        if (it.key() != Value::Software)
            continue;
        for (const QVariant &element : it.value()) {
            const QVariantMap entry = element.toMap();
            logText(QStringLiteral("  Name: ") + maintenance::loggable(entry.value(Key::Name).toString()));
            logText(QStringLiteral("  Version: ") + maintenance::loggable(entry.value(Key::Version).toString()));
            logText(QStringLiteral("  Download Link: ")
                    + maintenance::loggable(entry.value(Key::DownloadLink).toString()));
            use(entry);
        }
    }
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
    const int ms = passPauseMs(f, mode, markerWatched);
    qint64 end = ms < 0 ? -1 : ops.pacer->nowMs() + ms;
    // The restore and the fan curve's next step are due on their own clocks.
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

    while (!stopFlag) {
        const TakenRequest taken = takeRequest();
        servePass(taken);
        if (stopFlag)
            break;
        pauseAfterPass(taken.request.value(Key::Function).toInt(), taken.seen);
    }
    leaveLoop();
}

// One pass: what is due besides the request (the machine going to sleep, the
// restore, the fan curve's step), then the request, then its save.
void GPU_WORKER::servePass(const TakenRequest &taken)
{
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
}

// Whatever way the loop ends, a fan the curve drives goes back to the GPU
// before the thread does.
void GPU_WORKER::leaveLoop()
{
    if (fanCurve && fanCurve->fanWithMcu()) {
        try {
            giveFanBackFromCurve("the program ends");
        } catch (const std::exception &e) {
            std::cerr << "Caught exception: " << e.what() << std::endl;
        }
    }
    logStopped();
    markLoopEnded();
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
    walkManifest(serverVersionInfo, [this](const QVariantMap &entry) {
        const QString version = entry.value(Key::Version).toString();
        userControlData[Key::ServerVersion] = version;
        if (version != appVersion)
            MonitorInfoDict[Key::UpdateApp] = 1;
    });

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

GPU_WORKER::PassHandler GPU_WORKER::handlerFor(int function)
{
    static const QHash<int, PassHandler> handlers{
        {Request::ArgbControl, &GPU_WORKER::onArgbControl},
        {Request::SwitchFanControl, &GPU_WORKER::onSwitchFanControl},
        {Request::FanDuty, &GPU_WORKER::onFanDuty},
        {Request::ReadFanPwm, &GPU_WORKER::onReadFanPwm},
        {Request::ReadArgbValue, &GPU_WORKER::onReadArgbValue},
        {Request::ReadArgbEffectSpeed, &GPU_WORKER::onReadArgbEffectSpeed},
        {Request::FanToGpu, &GPU_WORKER::onFanToGpu},
        {Request::SyncMotherboard, &GPU_WORKER::onSyncMotherboard},
        {Request::LeaveMotherboardSync, &GPU_WORKER::onLeaveMotherboardSync},
        {Request::Refresh, &GPU_WORKER::onRefresh},
        {Request::StoreTheme, &GPU_WORKER::onStoreTheme},
        {Request::Update, &GPU_WORKER::onUpdate},
        {Request::ArgbSwitch, &GPU_WORKER::onArgbSwitch},
        {Request::SaveOnly, &GPU_WORKER::onSaveOnly},
        {Request::Nothing, &GPU_WORKER::onSaveOnly},
        {Request::ReinstallDriver, &GPU_WORKER::onReinstallDriver},
        {Request::FanCurve, &GPU_WORKER::onFanCurve},
        {Request::OpenRgbServer, &GPU_WORKER::onOpenRgbServer},
        {Request::ReadFirmwareVersion, &GPU_WORKER::onReadFirmwareVersion},
        {Request::Monitor, &GPU_WORKER::onMonitor},
        {Request::WatchMarker, &GPU_WORKER::onWatchMarker},
    };
    return handlers.value(function, nullptr);
}

void GPU_WORKER::performPass(int f, const QVariantMap &request, quint64 sequence)
{
    const PassHandler handler = handlerFor(f);
    // Idle, and a code nobody knows, leave the mode as it is.
    const AfterPass next = handler ? (this->*handler)(request) : AfterPass::KeepMode;
    if (next == AfterPass::BackToIdle)
        setPendingFunction(Request::Idle, sequence);
    else if (next == AfterPass::StartMonitoring)
        setPendingFunction(Request::Monitor, sequence);
}

GPU_WORKER::AfterPass GPU_WORKER::onArgbControl(const QVariantMap &request)
{
    lightingRequest(request, true, Reply::ArgbControl);
    return AfterPass::BackToIdle;
}

GPU_WORKER::AfterPass GPU_WORKER::onArgbSwitch(const QVariantMap &request)
{
    lightingRequest(request, false, Reply::ArgbSwitch);
    return AfterPass::BackToIdle;
}

GPU_WORKER::AfterPass GPU_WORKER::onSwitchFanControl(const QVariantMap &request)
{
    stopFanCurve();
    const int mode = request.value(Key::ControlMode).toInt();
    const int r = I2C_Switch_GPU_MCU_Control(mode);
    if (r == kSwitchCommands) {
        logText(mode == 0 ? QStringLiteral("switch to MCU successful")
                          : QStringLiteral("switch to GPU successful"));
        userControlData[Key::FanControlMode] = QString(mode == 0 ? Value::Mcu : Value::Gpu);
    }
    dictDataToQML[Key::Function] = int(Reply::SwitchFanControl);
    dictDataToQML[Key::ResultCheck] = r == kSwitchCommands ? 0 : 1;
    emitReply();
    return AfterPass::BackToIdle;
}

GPU_WORKER::AfterPass GPU_WORKER::onFanDuty(const QVariantMap &request)
{
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
    return AfterPass::BackToIdle;
}

GPU_WORKER::AfterPass GPU_WORKER::onReadFanPwm(const QVariantMap &)
{
    const int value = Read_I2C_Fan_PWM();
    logText(QStringLiteral("FAN PWM: ") + QString::number(value) + QStringLiteral(" rpm"));
    return AfterPass::BackToIdle;
}

GPU_WORKER::AfterPass GPU_WORKER::onReadArgbValue(const QVariantMap &request)
{
    i2cReplyBuffer = I2C_Read_ARGB_Value(request.value(Key::ReadMode).toInt());
    if (i2cReplyBuffer.size() == 4) {
        logText(QStringLiteral("r_color: ") + QString::number(quint8(i2cReplyBuffer.at(1))));
        logText(QStringLiteral("g_color: ") + QString::number(quint8(i2cReplyBuffer.at(2))));
        logText(QStringLiteral("b_color: ") + QString::number(quint8(i2cReplyBuffer.at(3))));
    }
    return AfterPass::BackToIdle;
}

GPU_WORKER::AfterPass GPU_WORKER::onReadArgbEffectSpeed(const QVariantMap &)
{
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
    return AfterPass::BackToIdle;
}

GPU_WORKER::AfterPass GPU_WORKER::onFanToGpu(const QVariantMap &)
{
    stopFanCurve();
    I2C_Switch_GPU_MCU_Control(1);
    userControlData[Key::FanControlMode] = QString(Value::Gpu);
    return AfterPass::StartMonitoring;
}

GPU_WORKER::AfterPass GPU_WORKER::onSyncMotherboard(const QVariantMap &)
{
    const int r = I2C_Switch_to_Sync_Motherboard_Control(1);
    userControlData[Key::RGB] = QString(Value::On);
    userControlData[Key::RGBControlMode] = QString(Value::Mb);
    logSyncCable();
    dictDataToQML[Key::Function] = int(Reply::SyncMotherboard);
    dictDataToQML[Key::ResultCheck] = r != kSwitchCommands ? 1 : 0;
    emitReply();
    return AfterPass::BackToIdle;
}

GPU_WORKER::AfterPass GPU_WORKER::onLeaveMotherboardSync(const QVariantMap &)
{
    I2C_Switch_to_Sync_Motherboard_Control(0);
    userControlData[Key::RGBControlMode] = QString(Value::Mcu);
    logSyncCable();
    return AfterPass::BackToIdle;
}

GPU_WORKER::AfterPass GPU_WORKER::onRefresh(const QVariantMap &)
{
    logText(QLatin1String(kRefreshHeader));
    sleepMs(kRefreshDelayMs);
    fullRefresh();
    dictDataToQML[Key::Function] = int(Reply::Refresh);
    dictDataToQML[Key::MonitorInfoDict] = MonitorInfoDict;
    emitReply();
    return AfterPass::BackToIdle;
}

GPU_WORKER::AfterPass GPU_WORKER::onStoreTheme(const QVariantMap &request)
{
    userControlData[Key::DisplayMode] = request.value(Key::DisplayMode).toInt();
    return AfterPass::BackToIdle;
}

GPU_WORKER::AfterPass GPU_WORKER::onOpenRgbServer(const QVariantMap &request)
{
    userControlData[Key::OpenRgbServer] = request.value(Key::OpenRgbServer).toBool();
    return AfterPass::BackToIdle;
}

GPU_WORKER::AfterPass GPU_WORKER::onReadFirmwareVersion(const QVariantMap &)
{
    // Six bytes nobody decodes: shown as they are, in hexadecimal.
    const QByteArray version = I2C_Read_FW_Version();
    QStringList bytes;
    for (char b : version)
        bytes << QString::number(quint8(b), 16).toUpper().rightJustified(2, QLatin1Char('0'));
    dictDataToQML[Key::Function] = int(Reply::FirmwareVersion);
    dictDataToQML[Key::FirmwareVersion] = version.size() == 6 ? bytes.join(QLatin1Char('.')) : QString();
    emitReply();
    dictDataToQML.remove(Key::FirmwareVersion);
    return AfterPass::BackToIdle;
}

// No card work: a save, where the code asks for one, follows the pass.
GPU_WORKER::AfterPass GPU_WORKER::onSaveOnly(const QVariantMap &) { return AfterPass::BackToIdle; }

GPU_WORKER::AfterPass GPU_WORKER::onFanCurve(const QVariantMap &request)
{
    fanCurveRequest(request);
    return AfterPass::BackToIdle;
}

GPU_WORKER::AfterPass GPU_WORKER::onMonitor(const QVariantMap &)
{
    logText(QLatin1String(kRefreshHeader));
    fullRefresh();
    stepFanCurve(true);
    dictDataToQML[Key::Function] = int(Reply::Monitor);
    dictDataToQML[Key::MonitorInfoDict] = MonitorInfoDict;
    emitReply();
    // The first monitoring pass arms the start-up restore.
    if (!restoreArmed && !startUpRestoreDone) {
        restoreArmed = true;
        restoreAtMs = ops.pacer->nowMs() + kMonitorPauseMs + kRestoreDelayMs;
    }
    return AfterPass::KeepMode;
}

GPU_WORKER::AfterPass GPU_WORKER::onWatchMarker(const QVariantMap &)
{
    markerTouched = false;
    if (settingsfiles::pollMarker(markerPath()) != 1)
        return AfterPass::KeepMode;
    dictDataToQML[Key::Function] = int(Reply::ShowWindow);
    dictDataToQML[Key::StartGUI] = 1;
    emitReply();
    settingsfiles::writeText(markerPath(), QStringLiteral("0"));
    return AfterPass::BackToIdle;
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
    dictDataToQML[Key::ResultCheckSwitchMcuMb] = r1 != kSwitchCommands ? 1 : 0;

    userControlData[Key::RGB] = request.value(Key::RGB).toString();
    userControlData[Key::DisplayMode] = request.value(Key::DisplayMode).toInt();
    userControlData[Key::RGBControlMode] = QString(Value::Mcu);

    const int effect = request.value(Key::Effect).toInt();
    if (!Effect::isEffect(effect))
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
    if (I2C_ARGB_Control(effectText(effect), r, g, b, speed) != kLightingCommands) {
        dictDataToQML[Key::ResultCheckArgbControl] = 1;
        if (cardShowsEffect(effect))
            dictDataToQML[Key::ResultCheckArgbControl] = 0;
    }
    dictDataToQML[Key::Function] = replyCode;
    emitReply();
}

// The card may have taken the effect although a transfer failed.
bool GPU_WORKER::cardShowsEffect(int effect)
{
    i2cReplyBuffer = I2C_Read_ARGB_Effect_Speed();
    const int readBack = i2cReplyBuffer.isEmpty() ? 0 : quint8(i2cReplyBuffer.at(0));
    logText(QStringLiteral("rgbEffect: ") + QString::number(readBack));
    return readBack == effect;
}

GPU_WORKER::AfterPass GPU_WORKER::onUpdate(const QVariantMap &)
{
    logText(QLatin1String(kUpdateHeader));
    int attempts = 0;
    serverVersionInfo = check_NewVersionFromServer();
    walkManifest(serverVersionInfo, [&](const QVariantMap &entry) {
        if (downloadUpdate(entry))
            ++attempts;
    });
    // The download screen waits for an outcome: say why nothing came.
    if (attempts == 0)
        reportUpdateFailure(serverVersionInfo.isEmpty()
                                ? QStringLiteral("The update server could not be reached.")
                                : QStringLiteral("No update is available for this version."));
    return AfterPass::BackToIdle;
}

bool GPU_WORKER::downloadUpdate(const QVariantMap &entry)
{
    const QString version = entry.value(Key::Version).toString();
    if (version == appVersion)
        return false;
    // A manifest entry must never choose where a file is written.
    const QString savePath = ops.maintenance->installerSavePath(version);
    if (savePath.isEmpty()) {
        qWarning().noquote() << "Update entry skipped, its version cannot name a file:"
                             << maintenance::loggable(version);
        return false;
    }

    dictDataToQML[Key::Function] = int(Reply::Update);
    dictDataToQML[Key::DownloadFile] = 1;
    dictDataToQML[Key::InstallApp] = 0;
    dictDataToQML[Key::NewVersion] = version;
    dictDataToQML[Key::AppVersion] = appVersion;
    // A progress left from an earlier download would read as done.
    dictDataToQML.remove(Key::Progress);
    emitReply();

    if (downloadFileFromServer(entry.value(Key::DownloadLink).toString().toStdWString(),
                               savePath.toStdWString(), entry.value(Key::Sha256).toString())) {
        std::cout << "File downloaded successfully!" << std::endl;
        ops.maintenance->runInstaller(savePath);
    } else {
        std::cout << "Download failed!" << std::endl;
        reportUpdateFailure(ops.maintenance->lastFailure());
    }
    dictDataToQML[Key::InstallApp] = 0;
    return true;
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

GPU_WORKER::AfterPass GPU_WORKER::onReinstallDriver(const QVariantMap &)
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
    return AfterPass::BackToIdle;
}

// ------------------------------------------------------------ the restore

// What one half of the restore left undone.
struct GPU_WORKER::Restored {
    int notOpened = 0;   // transfers the unopened driver refused
    bool missed = false; // anything short of what the card should have taken
    void sent(int r, int full) { missed = missed || r != full; }
    void counted(int r, int full)
    {
        sent(r, full);
        if (r == kDriverNotOpened)
            ++notOpened;
    }
};

void GPU_WORKER::startUpRestore()
{
    const Restored lighting = restoreLighting();
    const Restored fan = restoreFan();
    const int errors = lighting.notOpened + fan.notOpened;
    if (errors > 1) {
        logText(QStringLiteral("ERROR: ") + QString::number(errors));
        dictDataToQML[Key::Function] = int(Reply::RestoreDriverFailed);
        dictDataToQML[Key::DriverBusy] = ops.card->heldByKernelDriver();
        emitReply();
    }
    if (lighting.missed || fan.missed) {
        logText(QStringLiteral("Saved choices not applied:") + (lighting.missed ? " lighting" : "")
                + (fan.missed ? " fan" : ""));
        emit savedChoicesNotApplied(lighting.missed, fan.missed);
    }
    // The line a reader of the log, or a test, knows the restore's end by.
    logText(QStringLiteral("Saved lighting and fan sent"));
}

// Settings are looked up through the inserting index: a missing key is
// added empty, matches none of the modes, and is saved as null.
GPU_WORKER::Restored GPU_WORKER::restoreLighting()
{
    Restored done;
    if (userControlData[Key::RGB].toString() == Value::Off) {
        logText(QStringLiteral("========================================== RGB OFF"));
        done.sent(I2C_Switch_to_Sync_Motherboard_Control(0), kSwitchCommands);
        done.counted(I2C_ARGB_Control(effectText(Effect::Static), QStringLiteral("00"), QStringLiteral("00"),
                                      QStringLiteral("00"), userControlData[Key::Speed].toString()),
                     kLightingCommands);
    } else if (userControlData[Key::RGBControlMode].toString() == Value::Mcu) {
        const int effect = userControlData[Key::ArgbEffect].toInt();
        if (Effect::isEffect(effect)) {
            const QString r = userControlData[Key::RHex].toString();
            const QString g = userControlData[Key::GHex].toString();
            const QString b = userControlData[Key::BHex].toString();
            const QString speed = userControlData[Key::Speed].toString();
            sleepMs(kBeforeLightingMs);
            done.counted(I2C_ARGB_Control(effectText(effect), r, g, b, speed), kLightingCommands);
        }
        done.counted(I2C_Switch_to_Sync_Motherboard_Control(0), kSwitchCommands);
    } else if (userControlData[Key::RGBControlMode].toString() == Value::Mb) {
        done.counted(I2C_Switch_to_Sync_Motherboard_Control(1), kSwitchCommands);
    }
    return done;
}

GPU_WORKER::Restored GPU_WORKER::restoreFan()
{
    Restored done;
    const QString fanMode = userControlData[Key::FanControlMode].toString();
    if (fanMode == Value::Gpu) {
        done.counted(I2C_Switch_GPU_MCU_Control(1), kSwitchCommands);
    } else if (fanMode == Value::Mcu) {
        done.counted(I2C_Switch_GPU_MCU_Control(0), kSwitchCommands);
        sleepMs(kAfterFanSwitchMs);
        done.sent(I2C_Fan_Control(userControlData[Key::FanSpeed].toInt()), kFanCommands);
    } else if (fanMode == Value::Curve) {
        // Checked on load: the curve here is one that may run.
        lastCurveSwitchResult = 0;
        curveWriteFailed = false;
        startFanCurve(mcu::curveFromVariant(userControlData.value(Key::FanCurve)));
        stepFanCurve(false);
        done.missed = curveWriteFailed;
        if (lastCurveSwitchResult == kDriverNotOpened)
            ++done.notOpened;
    }
    return done;
}
