#pragma once
// The OpenRGB SDK's wire format, protocol versions 0 to 5: the packet header,
// the controller description a client reads, and the commands it sends.
// Everything is little-endian. Nothing here knows what the controller is.

#include <QByteArray>
#include <QVector>

#include <cstdint>
#include <optional>

namespace openrgb {

// Version 6 changes the device ids and most blocks; clients fall back to 5.
constexpr quint32 kServerProtocolVersion = 5;
constexpr int kHeaderSize = 16;
// No packet of these versions comes near it: larger means a hostile client.
constexpr quint32 kMaxPacketData = 1024 * 1024;

namespace Packet {
enum Id : quint32 {
    RequestControllerCount = 0,
    RequestControllerData = 1,
    RequestProtocolVersion = 40,
    SetClientName = 50,
    DeviceListUpdated = 100,
    RequestProfileList = 150,
    SaveProfile = 151,
    LoadProfile = 152,
    DeleteProfile = 153,
    RequestPluginList = 200,
    ResizeZone = 1000,
    UpdateLeds = 1050,
    UpdateZoneLeds = 1051,
    UpdateSingleLed = 1052,
    SetCustomMode = 1100,
    UpdateMode = 1101,
    SaveMode = 1102,
};
}

namespace ModeFlag {
enum : quint32 {
    HasSpeed = 1u << 0,
    HasBrightness = 1u << 4,
    HasPerLedColour = 1u << 5,
    HasModeSpecificColour = 1u << 6,
};
}

namespace ColourMode {
enum : quint32 { None = 0, PerLed = 1, ModeSpecific = 2, Random = 3 };
}

namespace DeviceType {
enum : qint32 { Gpu = 2 };
}

namespace ZoneType {
enum : qint32 { Single = 0, Linear = 1, Matrix = 2 };
}

// A colour as the SDK carries it: 0x00BBGGRR.
using Colour = quint32;
constexpr Colour colour(int r, int g, int b) { return Colour(r) | Colour(g) << 8 | Colour(b) << 16; }
constexpr int red(Colour c) { return int(c & 0xFF); }
constexpr int green(Colour c) { return int(c >> 8 & 0xFF); }
constexpr int blue(Colour c) { return int(c >> 16 & 0xFF); }

struct Mode {
    QByteArray name;
    qint32 value = 0;
    quint32 flags = 0;
    quint32 speedMin = 0, speedMax = 0;
    quint32 brightnessMin = 0, brightnessMax = 0;
    quint32 coloursMin = 0, coloursMax = 0;
    quint32 speed = 0;
    quint32 brightness = 0;
    quint32 direction = 0;
    quint32 colourMode = ColourMode::None;
    QVector<Colour> colours;
};

// Zones of this server have no matrix map and no segments.
struct Zone {
    QByteArray name;
    qint32 type = ZoneType::Single;
    quint32 ledsMin = 0, ledsMax = 0, ledsCount = 0;
};

struct Led {
    QByteArray name;
    quint32 value = 0;
};

struct Controller {
    qint32 type = DeviceType::Gpu;
    QByteArray name, vendor, description, version, serial, location;
    QVector<Mode> modes;
    qint32 activeMode = 0;
    QVector<Zone> zones;
    QVector<Led> leds;
    QVector<Colour> colours;
    quint32 flags = 0;
};

struct Header {
    quint32 deviceId = 0;
    quint32 id = 0;
    quint32 size = 0;
};

// A whole packet: header and data.
QByteArray packet(quint32 deviceId, quint32 id, const QByteArray &data = {});
QByteArray uint32Data(quint32 value);

// The reply to a controller data request, its leading size included, in the
// layout of `version`.
QByteArray controllerData(const Controller &controller, quint32 version);
// One mode block, as inside the controller data and the mode commands.
QByteArray modeData(const Mode &mode, quint32 version);
// An empty profile or plugin list.
QByteArray emptyList();

// What the commands carry. Each returns nothing when the data is short or
// its counts do not fit the data.
struct ModeCommand {
    qint32 index = 0;
    Mode mode;
};
std::optional<ModeCommand> parseModeCommand(const QByteArray &data, quint32 version);
std::optional<QVector<Colour>> parseLedColours(const QByteArray &data);
struct ZoneColours {
    quint32 zone = 0;
    QVector<Colour> colours;
};
std::optional<ZoneColours> parseZoneColours(const QByteArray &data);
struct SingleLed {
    qint32 led = 0;
    Colour colour = 0;
};
std::optional<SingleLed> parseSingleLed(const QByteArray &data);
std::optional<quint32> parseUint32(const QByteArray &data);
// A NUL-terminated text; without its terminator it is taken whole.
QByteArray parseText(const QByteArray &data);

// Cuts a byte stream into packets. Bytes arrive in any pieces; a header with
// the wrong magic or a size over the limit breaks the stream for good.
class PacketReader {
public:
    enum class Status { NeedMore, Ready, Broken };
    void feed(const QByteArray &bytes);
    // On Ready, `header` and `data` hold the next packet, removed from the buffer.
    Status next(Header &header, QByteArray &data);
    qsizetype buffered() const { return buffer_.size(); }

private:
    QByteArray buffer_;
    bool broken_ = false;
};

} // namespace openrgb
