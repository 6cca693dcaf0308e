#pragma once
// The card microcontroller as the bus sees it: a command byte starts every
// write, a register byte every read, and a preceding "00 xx yy" write
// selects what the next command or register means.

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace cardsim {

class SimulatedMcu {
public:
    static constexpr int kLedCount = 25;
    static constexpr std::array<std::uint8_t, 6> kFirmwareVersion{0x01, 0x00, 0x03, 0x19,
                                                                   0x04, 0x0B};

    struct FanState {
        std::uint8_t duty = 0;
        bool cardDrivesFan = false; // false: the GPU drives it
        bool operator==(const FanState &o) const
        {
            return duty == o.duty && cardDrivesFan == o.cardDrivesFan;
        }
    };
    // Told about every change of the fan duty or of who drives the fan.
    using FanListener = std::function<void(const FanState &)>;

    void setFanListener(FanListener listener) { fanListener_ = std::move(listener); }
    void setSyncCableConnected(bool connected) { syncCable_ = connected; }

    // False when the MCU does not acknowledge the transfer.
    bool write(const std::vector<std::uint8_t> &bytes);
    // The first byte is the register; the reply has exactly `length` bytes.
    std::vector<std::uint8_t> writeRead(const std::vector<std::uint8_t> &bytes,
                                        std::size_t length);
    // A plain read repeats the register last read.
    std::vector<std::uint8_t> read(std::size_t length);

    std::uint8_t effect() const { return effect_; }
    std::uint8_t speed() const { return speed_; }
    // Colour of the first LED as red, green, blue.
    std::array<std::uint8_t, 3> colour() const;
    FanState fan() const { return fan_; }
    bool lightingFollowsBoard() const { return followsBoard_; }
    int commits() const { return commits_; }

private:
    std::vector<std::uint8_t> registerValue(std::uint8_t reg) const;
    void setFan(const FanState &state);

    std::uint16_t selector_ = 0;
    std::uint8_t effect_ = 0x01;
    std::uint8_t speed_ = 0x00;
    // Wire order per LED: red, blue, green.
    std::array<std::uint8_t, 3 * kLedCount> leds_{};
    int ledCursor_ = 0;
    FanState fan_;
    bool followsBoard_ = false;
    bool syncCable_ = false;
    int commits_ = 0;
    std::uint8_t lastRegister_ = 0;
    FanListener fanListener_;
};

} // namespace cardsim
