#include "sim/card/simulated_mcu.h"

#include <algorithm>

namespace cardsim {

namespace {
constexpr std::uint16_t kSelectColour = 0xE300;
constexpr std::uint16_t kSelectMode = 0xE021;
constexpr std::uint16_t kSelectCommit = 0xE02F;
constexpr std::uint16_t kSelectSyncCable = 0xE0FE;
constexpr std::uint16_t kSelectFanWrite = 0xD810;
constexpr std::uint16_t kSelectFanRead = 0xD800;
constexpr std::uint16_t kSelectFirmware = 0xB500;
constexpr std::uint8_t kLastEffect = 0x0D;
} // namespace

bool SimulatedMcu::write(const std::vector<std::uint8_t> &bytes)
{
    if (bytes.empty())
        return false;
    if (bytes.size() == 1) {
        // A lone register byte points the next plain read at it.
        lastRegister_ = bytes[0];
        return true;
    }
    switch (bytes[0]) {
    case 0x00:
        if (bytes.size() != 3)
            return false;
        selector_ = static_cast<std::uint16_t>(bytes[1] << 8 | bytes[2]);
        if (selector_ == kSelectColour)
            ledCursor_ = 0;
        return true;
    case 0x01:
        if (bytes.size() != 2)
            return false;
        if (selector_ == kSelectFanWrite) {
            FanState next = fan_;
            next.duty = bytes[1];
            setFan(next);
            return true;
        }
        if (bytes[1] == 0x01) {
            ++commits_;
            return true;
        }
        return false;
    case 0x02: {
        if (bytes.size() != 3 || selector_ != kSelectMode)
            return false;
        const std::uint8_t what = bytes[1], value = bytes[2];
        if (what == 0x80 || what == 0x81) {
            if (value > 1)
                return false;
            if (what == 0x80) {
                FanState next = fan_;
                next.cardDrivesFan = value == 0;
                setFan(next);
            } else {
                followsBoard_ = value == 1;
            }
            return true;
        }
        if (what < 0x01 || what > kLastEffect)
            return false;
        effect_ = what;
        speed_ = value;
        return true;
    }
    case 0x03: {
        // 03, total length, then red-blue-green triples.
        if (selector_ != kSelectColour || bytes.size() < 5 || bytes[1] != bytes.size() ||
            (bytes.size() - 2) % 3 != 0)
            return false;
        const int count = int(bytes.size() - 2) / 3;
        if (ledCursor_ + count > kLedCount)
            return false;
        std::copy(bytes.begin() + 2, bytes.end(), leds_.begin() + 3 * ledCursor_);
        ledCursor_ += count;
        return true;
    }
    default:
        return false;
    }
}

std::vector<std::uint8_t> SimulatedMcu::registerValue(std::uint8_t reg) const
{
    switch (reg) {
    case 0x82:
        switch (selector_) {
        case kSelectMode: return {effect_, speed_};
        case kSelectFanRead:
        case kSelectFanWrite: return {fan_.duty, 0x00};
        case kSelectSyncCable: return {std::uint8_t(syncCable_ ? 1 : 0), 0x00};
        default: return {0x00, 0x00};
        }
    case 0x85:
        if (selector_ == kSelectColour) {
            const auto c = colour();
            return {0x00, c[0], c[1], c[2]};
        }
        return {};
    case 0xA0:
        if (selector_ == kSelectColour)
            return std::vector<std::uint8_t>(leds_.begin(), leds_.begin() + 32);
        return {};
    case 0x86:
        if (selector_ == kSelectFirmware)
            return std::vector<std::uint8_t>(kFirmwareVersion.begin(), kFirmwareVersion.end());
        return {};
    default:
        return {};
    }
}

std::vector<std::uint8_t> SimulatedMcu::writeRead(const std::vector<std::uint8_t> &bytes,
                                                  std::size_t length)
{
    lastRegister_ = bytes.empty() ? 0 : bytes[0];
    return read(length);
}

std::vector<std::uint8_t> SimulatedMcu::read(std::size_t length)
{
    std::vector<std::uint8_t> reply = registerValue(lastRegister_);
    reply.resize(length, 0x00);
    return reply;
}

std::array<std::uint8_t, 3> SimulatedMcu::colour() const
{
    return {leds_[0], leds_[2], leds_[1]};
}

void SimulatedMcu::setFan(const FanState &state)
{
    const bool changed = !(state == fan_);
    fan_ = state;
    if (changed && fanListener_)
        fanListener_(fan_);
}

} // namespace cardsim
