#pragma once
// The worker thread: the one object through which the scene reaches the card,
// the control library, the system probes, the update server and the driver
// installer. The scene talks to it only through dictionaries.

#include "gpu/ctl_fwd.h"
#include "worker/backends.h"

#include <QByteArray>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QVariantList>
#include <QVariantMap>

#include <array>
#include <atomic>
#include <string>

struct KnownCard {
    int vendorId;
    int deviceId;
    int subsystemId;
    int subsystemVendorId;
    QString name;
};

class GPU_WORKER : public QThread
{
    Q_OBJECT
    Q_PROPERTY(QVariantMap data READ getData WRITE receiveDataFromQML NOTIFY dataChanged)

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
    const QList<KnownCard> &knownCards() const { return knownCardList; }

signals:
    void dataChanged(QVariantMap data);

public slots:
    void stopThread();
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
    bool installDriverWithPnPUtil(QString infPath);

public:
    Q_INVOKABLE QVariantMap getData();

protected:
    void run() override;

private:
    // One step of the loop, and the pieces it is built from.
    void startUpSequence();
    void performPass(int function, const QVariantMap &request, quint64 generation,
                     bool &firstPass);
    void fullRefresh();
    void lightingRequest(const QVariantMap &request, bool storeChoices, int replyCode);
    void updateRequest();
    void reinstallDriverRequest();
    void startUpRestore();
    void logSyncCable();
    void emitReply();
    void sleepMs(int ms);
    void save();
    QVariantMap takeRequest(quint64 *generation);
    // Sets the pending request's "function" unless the scene delivered a
    // newer request since the pass took its copy.
    void setPendingFunction(int function, quint64 generation);
    void logCategoryEntries(const QString &category, const QVariantList &entries);

    std::atomic<bool> stopFlag{false};
    QVariantMap dictDataToQML;
    QVariantMap MonitorInfoDict;
    QVariantMap dictDataFromQML;
    QVariantMap userControlData;
    QByteArray i2cReplyBuffer;
    std::string i2cDevicePath;
    QMap<QString, QVariantList> serverVersionInfo;
    QString versionFilePath;
    QString appVersion;
    QString appDataPath;
    QString userDataPath;
    QList<KnownCard> knownCardList;
    QVariantMap dataValue;

    QMutex requestMutex;
    quint64 requestGeneration = 0; // bumped by every request the scene delivers
    worker::Backends ops;
};
