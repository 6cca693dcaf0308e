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
    QMap<QString, QVariantList> checkNewVersion() override
    {
        return maintenance::check_NewVersionFromServer(maintenance::manifestUrl());
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
                                                   {}, sha256, &failure);
    }

    QString lastFailure() const override { return failure; }

    QString installerSavePath(const QString &version) override
    {
        if (!maintenance::isPlainVersion(version))
            return {};
        return maintenance::installerSavePath(maintenance::downloadFolder(), version);
    }

    void runInstaller(const QString &path) override { maintenance::runInstaller(path); }

    void setAutoStart(bool enable) override { maintenance::setAutoStart(enable); }

    bool installDriver(const QString &infPath) override
    {
        failure.clear();
        return maintenance::installDriverWithPnPUtil(infPath, maintenance::systemPkexec(), &failure);
    }

private:
    QString failure;
};
} // namespace

std::unique_ptr<MaintenanceBackend> makeMaintenanceBackend()
{
    return std::make_unique<LinuxMaintenance>();
}
} // namespace worker
