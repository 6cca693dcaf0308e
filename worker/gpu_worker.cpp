#include "worker/gpu_worker.h"

#include "worker/protocol.h"
#include "worker/settingsfiles.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QStandardPaths>

#include <cstdio>
#include <exception>
#include <iostream>

namespace {

constexpr unsigned long kGracefulStopMs = 3000;

worker::Backends realBackends()
{
    worker::Backends b;
    b.card = worker::makeCardBackend(known_card::kDevicePath);
    b.gpu = worker::makeGpuBackend();
    b.system = worker::makeSystemBackend();
    b.maintenance = worker::makeMaintenanceBackend();
    b.pacer = worker::makeRealPacer();
    b.fanGuard = worker::makeFanGuardian();
    return b;
}

} // namespace

GPU_WORKER::GPU_WORKER() : GPU_WORKER(realBackends()) {}

GPU_WORKER::GPU_WORKER(worker::Backends backends)
    : QThread(nullptr), ops(std::move(backends))
{
    appDataPath = settingsfiles::dataFolder();
    versionFilePath = appDataPath + QStringLiteral("/version.txt");
    settingsfiles::createDirectory(appDataPath);
    userDataPath = appDataPath + QStringLiteral("/userData.json");
    watchMarker();
    for (const known_card::Row &row : known_card::kRows)
        knownCardList.append(row);
}

GPU_WORKER::~GPU_WORKER()
{
    // The pass under way gets a moment to end on its own (its pauses end
    // early once interruption is requested); one blocked for longer in a
    // device, network or installer call is terminated, as the program is ending.
    stopFlag = true;
    requestInterruption();
    ops.pacer->wake();
    if (wait(kGracefulStopMs)) {
        std::lock_guard<std::mutex> lock(loopEndMutex);
        return;
    }
    terminate();
    wait();
}

void GPU_WORKER::markLoopEnded()
{
    // Nothing to record: the lock, released after the loop's last read of
    // a member, is the message.
    std::lock_guard<std::mutex> lock(loopEndMutex);
}

// ---------------------------------------------------------------- protocol

void GPU_WORKER::stopThread()
{
    stopFlag = true;
    ops.pacer->wake();
    quit();
    wait();
}

void GPU_WORKER::setData(QVariantMap data)
{
    if (data == dataValue)
        return;
    dataValue = data;
    emit dataChanged(dataValue);
}

void GPU_WORKER::receiveDataFromQML(QVariantMap data)
{
    {
        std::lock_guard<std::mutex> lock(requestMutex);
        const quint64 sequence = ++requestSequence;
        const int function = data.value(Key::Function).toInt();
        if (Request::isOneShot(function)) {
            for (auto it = pendingCommands.begin(); it != pendingCommands.end(); ++it) {
                if (it->request.value(Key::Function).toInt() == function) {
                    pendingCommands.erase(it);
                    break;
                }
            }
            pendingCommands.append(TakenRequest{data, sequence});
        } else {
            dictDataFromQML = data;
            modeSequence = sequence;
        }
    }
    ops.pacer->wake();
}

void GPU_WORKER::watchMarker()
{
    // The folder tells when the marker appears or is replaced; the file when
    // it is written. Both wake the loop, which reads the marker in mode 101.
    markerWatcher.addPath(appDataPath);
    const auto touched = [this] {
        if (!markerWatcher.files().contains(markerPath()) && QFile::exists(markerPath()))
            markerWatcher.addPath(markerPath());
        markerWatched = markerWatcher.files().contains(markerPath());
        markerTouched = true;
        ops.pacer->wake();
    };
    connect(&markerWatcher, &QFileSystemWatcher::fileChanged, this, touched);
    connect(&markerWatcher, &QFileSystemWatcher::directoryChanged, this, touched);
    if (QFile::exists(markerPath()))
        markerWatcher.addPath(markerPath());
    markerWatched = markerWatcher.files().contains(markerPath());
}

void GPU_WORKER::reapplySavedChoices()
{
    reapplyRequested = true;
    ops.pacer->wake();
}

QVariantMap GPU_WORKER::getData() { return dataValue; }

// ---------------------------------------------------------- card operations

int GPU_WORKER::I2C_ARGB_Control(QString effectMode, QString r_color, QString g_color,
                                 QString b_color, QString speed)
{
    return ops.card->argbControl(effectMode, r_color, g_color, b_color, speed);
}

int GPU_WORKER::I2C_Switch_GPU_MCU_Control(int controlMode)
{
    return ops.card->switchGpuMcuControl(controlMode);
}

int GPU_WORKER::I2C_Fan_Control(int speed) { return ops.card->fanControl(speed); }

int GPU_WORKER::I2C_Switch_to_Sync_Motherboard_Control(int controlMode)
{
    return ops.card->switchSyncMotherboardControl(controlMode);
}

QByteArray GPU_WORKER::Read_Check_MB_Sync_Cable() { return ops.card->readSyncCable(); }
int GPU_WORKER::Read_I2C_Fan_PWM() { return ops.card->readFanPwm(); }
QByteArray GPU_WORKER::I2C_Read_ARGB_Value(int readMode) { return ops.card->readArgbValue(readMode); }
QByteArray GPU_WORKER::I2C_Read_ARGB_Effect_Speed() { return ops.card->readArgbEffectSpeed(); }
QByteArray GPU_WORKER::I2C_Read_FW_Version() { return ops.card->readFwVersion(); }

// ------------------------------------------------------ GPU and system facts

int GPU_WORKER::Get_GPU_Information()
{
    // The count travels as "GPU_count" in the reply; the result itself is not used.
    const int cards = ops.gpu->getGpuInformation(MonitorInfoDict, dictDataToQML);
    // A card that was not found before (the no-device screen's refresh found
    // it) may have come back in its own default state.
    if (lastCardCount == 0 && cards > 0 && startUpRestoreDone)
        reapplyRequested = true;
    lastCardCount = cards;
    return 0;
}

QString GPU_WORKER::GetCPUInfo() { return ops.system->cpuInfo(); }
void GPU_WORKER::GetMemoryInfo() { ops.system->memoryInfo(MonitorInfoDict); }
void GPU_WORKER::GetMotherboardInfo() { ops.system->motherboardInfo(MonitorInfoDict); }

void GPU_WORKER::GetAdapterDriverVersion(ctl_device_adapter_properties_t *pStDeviceAdapterProperties)
{
    ops.gpu->getAdapterDriverVersion(pStDeviceAdapterProperties, MonitorInfoDict);
}

std::array<double, 4> GPU_WORKER::OverclockPowerTelemetry(ctl_device_adapter_handle_t hDAhandle)
{
    return ops.gpu->overclockPowerTelemetry(hDAhandle);
}

void GPU_WORKER::CtlPciTest(ctl_device_adapter_handle_t hDAhandle)
{
    ops.gpu->ctlPciTest(hDAhandle, MonitorInfoDict);
}

// ------------------------------------------------------------- maintenance

QMap<QString, QVariantList> GPU_WORKER::check_NewVersionFromServer()
{
    return ops.maintenance->checkNewVersion();
}

bool GPU_WORKER::downloadFileFromServer(std::wstring url, std::wstring savePath)
{
    return downloadFileFromServer(std::move(url), std::move(savePath), QString());
}

bool GPU_WORKER::downloadFileFromServer(std::wstring url, std::wstring savePath, const QString &sha256)
{
    return ops.maintenance->downloadChecked(url, savePath, sha256, [this](int percent) {
        dictDataToQML[Key::Function] = int(Reply::Update);
        dictDataToQML[Key::DownloadFile] = 1;
        dictDataToQML[Key::InstallApp] = 0;
        dictDataToQML[Key::Progress] = percent;
        emitReply();
    });
}

void GPU_WORKER::setAutoStart(bool enable) { ops.maintenance->setAutoStart(enable); }
bool GPU_WORKER::autoStartEnabled() { return ops.maintenance->autoStartEnabled(); }

bool GPU_WORKER::installDriverWithPnPUtil(QString infPath)
{
    return ops.maintenance->installDriver(infPath);
}
