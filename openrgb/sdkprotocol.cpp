#include "openrgb/sdkprotocol.h"

#include <QtEndian>

namespace openrgb {

namespace {

const char kMagic[4] = {'O', 'R', 'G', 'B'};

class Writer {
public:
    void u16(quint16 v) { put(qToLittleEndian(v)); }
    void u32(quint32 v) { put(qToLittleEndian(v)); }
    void i32(qint32 v) { put(qToLittleEndian(v)); }
    // Texts go with their terminating NUL, counted in their length.
    void text(const QByteArray &t)
    {
        const QByteArray bounded = t.left(0xFFFE);
        u16(quint16(bounded.size() + 1));
        bytes.append(bounded).append('\0');
    }
    void colours(const QVector<Colour> &list)
    {
        u16(quint16(list.size()));
        for (Colour c : list)
            u32(c);
    }
    QByteArray bytes;

private:
    template<typename T> void put(T v) { bytes.append(reinterpret_cast<const char *>(&v), sizeof v); }
};

class Reader {
public:
    explicit Reader(const QByteArray &data) : data_(data) {}
    bool u16(quint16 &v) { return get(v); }
    bool u32(quint32 &v) { return get(v); }
    bool i32(qint32 &v) { return get(v); }
    bool text(QByteArray &t)
    {
        quint16 n = 0;
        if (!u16(n) || left() < n)
            return false;
        t = parseText(data_.mid(pos_, n));
        pos_ += n;
        return true;
    }
    bool colours(QVector<Colour> &list)
    {
        quint16 n = 0;
        if (!u16(n) || left() < qsizetype(n) * 4)
            return false;
        list.resize(n);
        for (Colour &c : list)
            u32(c);
        return true;
    }
    qsizetype left() const { return data_.size() - pos_; }

private:
    template<typename T> bool get(T &v)
    {
        if (left() < qsizetype(sizeof v))
            return false;
        v = qFromLittleEndian<T>(data_.constData() + pos_);
        pos_ += sizeof v;
        return true;
    }
    const QByteArray &data_;
    qsizetype pos_ = 0;
};

// The blocks that begin with the size of all data, that size included.
QByteArray sized(const QByteArray &body)
{
    return uint32Data(quint32(body.size() + 4)) + body;
}

bool readMode(Reader &in, quint32 version, Mode &m)
{
    bool ok = in.text(m.name) && in.i32(m.value) && in.u32(m.flags) && in.u32(m.speedMin)
        && in.u32(m.speedMax);
    if (ok && version >= 3)
        ok = in.u32(m.brightnessMin) && in.u32(m.brightnessMax);
    ok = ok && in.u32(m.coloursMin) && in.u32(m.coloursMax) && in.u32(m.speed);
    if (ok && version >= 3)
        ok = in.u32(m.brightness);
    return ok && in.u32(m.direction) && in.u32(m.colourMode) && in.colours(m.colours);
}

} // namespace

QByteArray uint32Data(quint32 value)
{
    Writer w;
    w.u32(value);
    return w.bytes;
}

QByteArray packet(quint32 deviceId, quint32 id, const QByteArray &data)
{
    Writer w;
    w.bytes.append(kMagic, 4);
    w.u32(deviceId);
    w.u32(id);
    w.u32(quint32(data.size()));
    return w.bytes + data;
}

QByteArray modeData(const Mode &m, quint32 version)
{
    Writer w;
    w.text(m.name);
    w.i32(m.value);
    w.u32(m.flags);
    w.u32(m.speedMin);
    w.u32(m.speedMax);
    if (version >= 3) {
        w.u32(m.brightnessMin);
        w.u32(m.brightnessMax);
    }
    w.u32(m.coloursMin);
    w.u32(m.coloursMax);
    w.u32(m.speed);
    if (version >= 3)
        w.u32(m.brightness);
    w.u32(m.direction);
    w.u32(m.colourMode);
    w.colours(m.colours);
    return w.bytes;
}

QByteArray controllerData(const Controller &c, quint32 version)
{
    Writer w;
    w.i32(c.type);
    w.text(c.name);
    if (version >= 1)
        w.text(c.vendor);
    w.text(c.description);
    w.text(c.version);
    w.text(c.serial);
    w.text(c.location);
    w.u16(quint16(c.modes.size()));
    w.i32(c.activeMode);
    for (const Mode &m : c.modes)
        w.bytes += modeData(m, version);
    w.u16(quint16(c.zones.size()));
    for (const Zone &z : c.zones) {
        w.text(z.name);
        w.i32(z.type);
        w.u32(z.ledsMin);
        w.u32(z.ledsMax);
        w.u32(z.ledsCount);
        w.u16(0); // no matrix map
        if (version >= 4)
            w.u16(0); // no segments
        if (version >= 5)
            w.u32(0); // zone flags
    }
    w.u16(quint16(c.leds.size()));
    for (const Led &l : c.leds) {
        w.text(l.name);
        w.u32(l.value);
    }
    w.colours(c.colours);
    if (version >= 5) {
        w.u16(0); // no alternative LED names
        w.u32(c.flags);
    }
    return sized(w.bytes);
}

QByteArray emptyList()
{
    Writer w;
    w.u16(0);
    return sized(w.bytes);
}

std::optional<ModeCommand> parseModeCommand(const QByteArray &data, quint32 version)
{
    Reader in(data);
    quint32 size = 0;
    ModeCommand command;
    if (!in.u32(size) || !in.i32(command.index) || !readMode(in, version, command.mode))
        return std::nullopt;
    return command;
}

std::optional<QVector<Colour>> parseLedColours(const QByteArray &data)
{
    Reader in(data);
    quint32 size = 0;
    QVector<Colour> colours;
    if (!in.u32(size) || !in.colours(colours))
        return std::nullopt;
    return colours;
}

std::optional<ZoneColours> parseZoneColours(const QByteArray &data)
{
    Reader in(data);
    quint32 size = 0;
    ZoneColours zone;
    if (!in.u32(size) || !in.u32(zone.zone) || !in.colours(zone.colours))
        return std::nullopt;
    return zone;
}

std::optional<SingleLed> parseSingleLed(const QByteArray &data)
{
    Reader in(data);
    SingleLed led;
    if (!in.i32(led.led) || !in.u32(led.colour))
        return std::nullopt;
    return led;
}

std::optional<quint32> parseUint32(const QByteArray &data)
{
    Reader in(data);
    quint32 v = 0;
    if (!in.u32(v))
        return std::nullopt;
    return v;
}

QByteArray parseText(const QByteArray &data)
{
    const int end = data.indexOf('\0');
    return end < 0 ? data : data.left(end);
}

void PacketReader::feed(const QByteArray &bytes)
{
    if (!broken_)
        buffer_.append(bytes);
}

PacketReader::Status PacketReader::next(Header &header, QByteArray &data)
{
    if (broken_)
        return Status::Broken;
    // The magic is checked as soon as its bytes are here, so a stranger
    // speaking another protocol is turned away at once.
    const int magicBytes = int(qMin<qsizetype>(4, buffer_.size()));
    if (buffer_.left(magicBytes) != QByteArray(kMagic, magicBytes)) {
        broken_ = true;
        buffer_.clear();
        return Status::Broken;
    }
    if (buffer_.size() < kHeaderSize)
        return Status::NeedMore;
    const char *p = buffer_.constData();
    Header h{qFromLittleEndian<quint32>(p + 4), qFromLittleEndian<quint32>(p + 8),
             qFromLittleEndian<quint32>(p + 12)};
    if (h.size > kMaxPacketData) {
        broken_ = true;
        buffer_.clear();
        return Status::Broken;
    }
    if (buffer_.size() < kHeaderSize + qsizetype(h.size))
        return Status::NeedMore;
    header = h;
    data = buffer_.mid(kHeaderSize, h.size);
    buffer_.remove(0, kHeaderSize + h.size);
    return Status::Ready;
}

} // namespace openrgb
