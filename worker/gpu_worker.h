#pragma once
// The worker thread: the one object through which the scene reaches the card,
// the control library, the system probes, the update server and the driver
// installer. The scene talks to it only through dictionaries.

#include "gpu/ctl_fwd.h"
#include "mcu/fan_curve.h"
#include "platform/known_card.h"
#include "worker/backends.h"

#include <QByteArray>
#include <QFileSystemWatcher>
#include <QMap>
#include <QString>
#include <QThread>
#include <QVariantList>
#include <QVariantMap>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <mutex>
#include <string>

class GPU_WORKER : public QThread
{
    Q_OBJECT

public:
    GPU_WORKER();
    // Tests hand in their own operations and pacing.
    explicit GPU_WORKER(worker::Backends backends);
    ~GPU_WORKER() override;
    GPU_WORKER(const GPU_WORKER &) = delete;
    GPU_WORKER &operator=(const GPU_WORKER &) = delete;

    // Paths, exposed for the start-up code and for tests.
    QString applicationDataPath() const { return appDataPath; }
    QString settingsPath() const { return userDataPath; }
    QString markerPath() const { return appDataPath + QStringLiteral("/tarvell.txt"); }
    const QList<known_card::Row> &knownCards() const { return knownCardList; }

    // The card may have lost the user's lighting and fan (the machine slept,
    // the card came back): the worker applies the saved choices again as the
    // start-up restore does, without its start-up delay. Safe from any thread.
    void reapplySavedChoices();

    // The machine is about to sleep: a fan the curve drives goes back to the
    // GPU, and then done() runs on the worker thread. The curve stays paused
    // until reapplySavedChoices() after the resume. Safe from any thread.
    void prepareForSleep(std::function<void()> done);

signals:
    void dataChanged(QVariantMap data);
    // The settings as just saved after request `function`, and once after the
    // start-up reply (function 0): for whoever serves them beside the scene.
    void choicesSaved(int function, QVariantMap choices);
    // The start-up restore or a later re-apply left part of the saved
    // choices off the card. Emitted on the worker thread.
    void savedChoicesNotApplied(bool lighting, bool fan);

public slots:
    void stopThread();
    // Hands the scene a reply as if the worker had sent it; getData() gives
    // back the last one handed in this way.
    void setData(QVariantMap data);
    void receiveDataFromQML(QVariantMap data);

    int I2C_ARGB_Control(QString effectMode, QString r_color, QString g_color, QString b_color,
                         QString speed);
    int I2C_Switch_GPU_MCU_Control(int controlMode);
    int I2C_Fan_Control(int speed);
    int I2C_Switch_to_Sync_Motherboard_Control(int controlMode);
    QByteArray Read_Check_MB_Sync_Cable();
    int Read_I2C_Fan_PWM();
    QByteArray I2C_Read_ARGB_Value(int readMode);
    QByteArray I2C_Read_ARGB_Effect_Speed();
    QByteArray I2C_Read_FW_Version();

    int Get_GPU_Information();
    QString GetCPUInfo();
    void GetMemoryInfo();
    void GetMotherboardInfo();
    void GetAdapterDriverVersion(ctl_device_adapter_properties_t *pStDeviceAdapterProperties);
    std::array<double, 4> OverclockPowerTelemetry(ctl_device_adapter_handle_t hDAhandle);
    void CtlPciTest(ctl_device_adapter_handle_t hDAhandle);

    QMap<QString, QVariantList> check_NewVersionFromServer();
    bool downloadFileFromServer(std::wstring url, std::wstring savePath);
    void setAutoStart(bool enable);
    bool autoStartEnabled();
    bool installDriverWithPnPUtil(QString infPath);

public:
    Q_INVOKABLE QVariantMap getData();

protected:
    void run() override;

private:
    // One step of the loop, and the pieces it is built from.
    struct TakenRequest {
        QVariantMap request;
        quint64 sequence = 0; // of this request
        quint64 seen = 0;     // of the newest request when it was taken
    };
    void startUpSequence();
    void replyStartUp();
    void servePass(const TakenRequest &taken);
    void performPass(int function, const QVariantMap &request, quint64 sequence);
    void restoreIfDue();
    void pauseAfterPass(int function, quint64 seen);
    void leaveLoop();
    void fullRefresh();

    // What the loop does once a request's pass is over.
    enum class AfterPass { BackToIdle, KeepMode, StartMonitoring };
    using PassHandler = AfterPass (GPU_WORKER::*)(const QVariantMap &request);
    static PassHandler handlerFor(int function);
    // One handler per request code.
    AfterPass onArgbControl(const QVariantMap &request);
    AfterPass onArgbSwitch(const QVariantMap &request);
    AfterPass onSwitchFanControl(const QVariantMap &request);
    AfterPass onFanDuty(const QVariantMap &request);
    AfterPass onReadFanPwm(const QVariantMap &request);
    AfterPass onReadArgbValue(const QVariantMap &request);
    AfterPass onReadArgbEffectSpeed(const QVariantMap &request);
    AfterPass onFanToGpu(const QVariantMap &request);
    AfterPass onSyncMotherboard(const QVariantMap &request);
    AfterPass onLeaveMotherboardSync(const QVariantMap &request);
    AfterPass onRefresh(const QVariantMap &request);
    AfterPass onStoreTheme(const QVariantMap &request);
    AfterPass onUpdate(const QVariantMap &request);
    AfterPass onOpenRgbServer(const QVariantMap &request);
    AfterPass onReadFirmwareVersion(const QVariantMap &request);
    AfterPass onSaveOnly(const QVariantMap &request);
    AfterPass onReinstallDriver(const QVariantMap &request);
    AfterPass onFanCurve(const QVariantMap &request);
    AfterPass onMonitor(const QVariantMap &request);
    AfterPass onWatchMarker(const QVariantMap &request);

    void lightingRequest(const QVariantMap &request, bool storeChoices, int replyCode);
    bool cardShowsEffect(int effect);
    // False when the entry is skipped rather than downloaded.
    bool downloadUpdate(const QVariantMap &entry);
    void reportUpdateFailure(const QString &why);
    bool downloadFileFromServer(std::wstring url, std::wstring savePath, const QString &sha256);
    void startUpRestore();
    struct Restored;
    Restored restoreLighting();
    Restored restoreFan();
    void logSyncCable();
    void emitReply();
    void sleepMs(int ms);
    void save();
    // The oldest waiting one-shot command, else the current mode.
    TakenRequest takeRequest();
    // Sets the mode's "function" unless the scene sent a newer mode since
    // the request of this sequence number.
    void setPendingFunction(int function, quint64 sequence);
    bool newerRequestSince(quint64 seen);

    std::atomic<bool> stopFlag{false};
    // Taken by the loop as the last thing it does, and by the destructor
    // before anything is freed, so whatever the loop read is over by then.
    // QThread::wait() orders the two as well, but through Qt's own locks,
    // which ThreadSanitizer cannot see.
    std::mutex loopEndMutex;
    void markLoopEnded();
    QVariantMap dictDataToQML;
    QVariantMap MonitorInfoDict;
    QVariantMap dictDataFromQML;
    QVariantMap userControlData;
    QByteArray i2cReplyBuffer;
    QMap<QString, QVariantList> serverVersionInfo;
    QString versionFilePath;
    QString appVersion;
    QString appDataPath;
    QString userDataPath;
    QList<known_card::Row> knownCardList;
    QVariantMap dataValue;

    // The pending-request slot. A one-shot command waits in its own queue
    // until it ran, so a later mode request cannot wipe out a user's choice;
    // a newer command of the same code replaces the one still waiting.
    // dictDataFromQML is the mode: the latest mode request wins.
    // A standard mutex rather than Qt's, so that ThreadSanitizer sees it.
    std::mutex requestMutex;
    QList<TakenRequest> pendingCommands;
    quint64 requestSequence = 0; // bumped by every request the scene delivers
    quint64 modeSequence = 0;    // of the request dictDataFromQML came from

    // The start-up restore waits for its delay across passes, so requests
    // are served meanwhile.
    bool restoreArmed = false;
    bool startUpRestoreDone = false;
    qint64 restoreAtMs = 0;
    std::atomic<bool> reapplyRequested{false};
    // In the tray the marker is read when it changes, not on a short poll:
    // a thread that wakes seven times a second costs more than the tray
    // program the user compares it with.
    QFileSystemWatcher markerWatcher;
    std::atomic<bool> markerTouched{false};
    std::atomic<bool> markerWatched{false};
    void watchMarker();
    int lastCardCount = -1;

    // The fan curve, while the user's choice is "CURVE".
    std::unique_ptr<mcu::FanCurveController> fanCurve;
    std::optional<mcu::FanCurveController::Reading> curveReading;
    std::optional<double> curveCriticalC; // the lower of the sensors' own limits
    bool curveLimitsRead = false;
    qint64 curveDueMs = 0;
    bool curvePaused = false; // the machine sleeps
    bool curveWriteFailed = false;
    int lastCurveSwitchResult = 0;
    std::mutex sleepMutex;
    std::function<void()> sleepDone;
    std::atomic<bool> sleepRequested{false};
    void startFanCurve(const mcu::FanCurve &curve);
    void stopFanCurve();
    bool curveDue() const;
    // Takes this pass's temperatures from the facts when fresh is true, else
    // reads them first.
    void stepFanCurve(bool fresh);
    void readCurveTemperature();
    void applyCurveAction(const mcu::FanCurveController::Action &action);
    void giveFanBackFromCurve(const char *why);
    void serveSleepRequest();
    void fanCurveRequest(const QVariantMap &request);
    void publishCurveDuty();
    worker::Backends ops;
};
