// Update and installation as the worker sees them: the manifest of this
// build's update server, installers in the user's download folder, the XDG
// autostart entry and the I2C access package beside the program.
#include "worker/backends.h"

#include "maintenance/autostart.h"
#include "maintenance/driver_install.h"
#include "maintenance/update_client.h"

namespace worker {
namespace {
class LinuxMaintenance final : public MaintenanceBackend {
public:
    LinuxMaintenance(QString manifest, const maintenance::TransferLimits &manifestBounds,
                     const maintenance::TransferLimits &downloadBounds, QString folder)
        : manifestUrl(std::move(manifest)), manifestLimits(manifestBounds), downloadLimits(downloadBounds),
          downloadDir(std::move(folder))
    {
    }

    QMap<QString, QVariantList> checkNewVersion() override
    {
        return maintenance::check_NewVersionFromServer(manifestUrl, manifestLimits);
    }

    bool download(const std::wstring &url, const std::wstring &savePath,
                  const ProgressFn &progress) override
    {
        return downloadChecked(url, savePath, {}, progress);
    }

    bool downloadChecked(const std::wstring &url, const std::wstring &savePath,
                         const QString &sha256, const ProgressFn &progress) override
    {
        failure.clear();
        return maintenance::downloadFileFromServer(QString::fromStdWString(url),
                                                   QString::fromStdWString(savePath), progress,
                                                   downloadLimits, sha256, &failure);
    }

    QString lastFailure() const override { return failure; }

    QString installerSavePath(const QString &version) override
    {
        if (!maintenance::isPlainVersion(version))
            return {};
        return maintenance::installerSavePath(
            downloadDir.isEmpty() ? maintenance::downloadFolder() : downloadDir, version);
    }

    void runInstaller(const QString &path) override { maintenance::runInstaller(path); }

    void setAutoStart(bool enable) override { maintenance::setAutoStart(enable); }
    bool autoStartEnabled() override { return maintenance::autoStartEnabled(); }

    bool installDriver(const QString &infPath) override
    {
        failure.clear();
        return maintenance::installDriverWithPnPUtil(infPath, maintenance::systemPkexec(), &failure);
    }

private:
    QString manifestUrl;
    maintenance::TransferLimits manifestLimits;
    maintenance::TransferLimits downloadLimits;
    QString downloadDir;
    QString failure;
};
} // namespace

std::unique_ptr<MaintenanceBackend> makeMaintenanceBackend()
{
    return std::make_unique<LinuxMaintenance>(maintenance::manifestUrl(), maintenance::manifestLimits(),
                                              maintenance::TransferLimits{}, QString());
}

std::unique_ptr<MaintenanceBackend> makeMaintenanceBackend(const QString &manifestUrl,
                                                           const maintenance::TransferLimits &limits,
                                                           const QString &downloadDir)
{
    return std::make_unique<LinuxMaintenance>(manifestUrl, limits, limits, downloadDir);
}
} // namespace worker
