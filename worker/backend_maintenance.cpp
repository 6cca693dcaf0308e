// Update and installation as the worker sees them. Until the HTTP client and
// the installers exist there is no manifest and nothing can be installed.
#include "worker/backends.h"

namespace worker {
namespace {
class NoMaintenance final : public MaintenanceBackend {
public:
    QMap<QString, QVariantList> checkNewVersion() override { return {}; }
    bool download(const std::wstring &, const std::wstring &, const ProgressFn &) override
    {
        return false;
    }
    QString installerSavePath(const QString &) override { return {}; }
    void runInstaller(const QString &) override {}
    void setAutoStart(bool) override {}
    bool installDriver(const QString &) override { return false; }
};
} // namespace

std::unique_ptr<MaintenanceBackend> makeMaintenanceBackend()
{
    return std::make_unique<NoMaintenance>();
}
} // namespace worker
