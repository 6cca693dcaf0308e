// Card link as the worker sees it: the card microcontroller's operations,
// each with its own driver connection.
#include "worker/backends.h"

#include "mcu/card_mcu.h"
#include "platform/overlapped.h"

namespace worker {
namespace {

class CardLink final : public CardBackend {
public:
    explicit CardLink(const std::string &devicePath) : card(devicePath) {}

    int argbControl(const QString &effectMode, const QString &r, const QString &g,
                    const QString &b, const QString &speed) override
    {
        return card.I2C_ARGB_Control(effectMode, r, g, b, speed);
    }
    int switchGpuMcuControl(int controlMode) override
    {
        return card.I2C_Switch_GPU_MCU_Control(controlMode);
    }
    int fanControl(int speed) override { return card.I2C_Fan_Control(speed); }
    int switchSyncMotherboardControl(int controlMode) override
    {
        return card.I2C_Switch_to_Sync_Motherboard_Control(controlMode);
    }
    QByteArray readSyncCable() override { return card.Read_Check_MB_Sync_Cable(); }
    int readFanPwm() override { return card.Read_I2C_Fan_PWM(); }
    QByteArray readArgbValue(int readMode) override { return card.I2C_Read_ARGB_Value(readMode); }
    QByteArray readArgbEffectSpeed() override { return card.I2C_Read_ARGB_Effect_Speed(); }
    QByteArray readFwVersion() override { return card.I2C_Read_FW_Version(); }
    int lastCommandStatus() const override { return card.lastCommandStatus; }
    int commandSuccessCount() const override { return card.commandSuccessCount; }
    bool heldByKernelDriver() const override { return card.lastOpenError == platform::kErrorBusy; }

private:
    mcu::CardMcu card;
};

} // namespace

std::unique_ptr<CardBackend> makeCardBackend(const std::string &devicePath)
{
    return std::make_unique<CardLink>(devicePath);
}
} // namespace worker
