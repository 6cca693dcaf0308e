// Fuzzes the OpenRGB SDK packet reader and the command parsers, checking what
// must hold for any bytes a client sends.

#include "fuzz_check.h"
#include "openrgb/sdkprotocol.h"

#include <cstdint>
#include <vector>

using namespace openrgb;

namespace {

using fuzz::check;

struct Cut {
    std::vector<QByteArray> packets; // header bytes rebuilt, then data
    bool broken = false;
};

Cut cut(const QByteArray &bytes, int piece)
{
    Cut result;
    PacketReader reader;
    for (int at = 0; at < bytes.size() && !result.broken; at += piece) {
        reader.feed(bytes.mid(at, piece));
        Header h;
        QByteArray data;
        for (;;) {
            const auto status = reader.next(h, data);
            if (status == PacketReader::Status::Broken)
                result.broken = true;
            if (status != PacketReader::Status::Ready)
                break;
            check(quint32(data.size()) == h.size, "data as long as the header says");
            check(h.size <= kMaxPacketData, "no packet over the limit");
            result.packets.push_back(packet(h.deviceId, h.id, data));
        }
    }
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const Cut whole = cut(bytes, qMax(1, bytes.size()));
    const Cut pieces = cut(bytes, 1 + (size ? data[0] % 7 : 0));
    check(whole.packets == pieces.packets && whole.broken == pieces.broken,
          "the same packets however the bytes arrive");
    for (const QByteArray &p : whole.packets)
        check(p.startsWith("ORGB"), "every packet has the magic");

    // Every parser on each packet's data; a mode that parses comes back the same.
    std::vector<QByteArray> datas{bytes};
    for (const QByteArray &p : whole.packets)
        datas.push_back(p.mid(kHeaderSize));
    for (const QByteArray &d : datas) {
        parseLedColours(d);
        parseZoneColours(d);
        parseSingleLed(d);
        parseText(d);
        for (quint32 version = 0; version <= kServerProtocolVersion; ++version) {
            const auto command = parseModeCommand(d, version);
            if (!command)
                continue;
            const QByteArray block = uint32Data(0) + uint32Data(quint32(command->index))
                + modeData(command->mode, version);
            const auto again = parseModeCommand(block, version);
            check(again && again->mode.colours == command->mode.colours
                      && again->mode.speed == command->mode.speed && again->mode.name == command->mode.name.left(0xFFFE),
                  "a parsed mode encodes to itself");
        }
    }
    return 0;
}
