// Card link as the worker sees it. Until the transport exists every operation
// reports that the peripheral driver could not be opened.
#include "worker/backends.h"

namespace worker {
namespace {
class NoCard final : public CardBackend {
public:
    int argbControl(const QString &, const QString &, const QString &, const QString &,
                    const QString &) override { return -2; }
    int switchGpuMcuControl(int) override { return -2; }
    int fanControl(int) override { return 0; }
    int switchSyncMotherboardControl(int) override { return -2; }
    QByteArray readSyncCable() override { return {}; }
    int readFanPwm() override { return 0; }
    QByteArray readArgbValue(int) override { return {}; }
    QByteArray readArgbEffectSpeed() override { return {}; }
    QByteArray readFwVersion() override { return {}; }
    int lastCommandStatus() const override { return -1; }
    int commandSuccessCount() const override { return -2; }
};
} // namespace

std::unique_ptr<CardBackend> makeCardBackend(const std::string &)
{
    return std::make_unique<NoCard>();
}
} // namespace worker
