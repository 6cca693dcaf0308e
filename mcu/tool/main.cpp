// tarvell-i2c: runs I2C command texts against the peripheral device, one
// driver connection for all of them, and prints what the interpreter prints.

#include "mcu/card_mcu.h"
#include "mcu/transport.h"
#include "platform/overlapped.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

void usage()
{
    std::fprintf(stderr, "usage: tarvell-i2c [--device NAME] [COMMAND-TEXT ...]\n"
                         "Without command texts, reads one per line from standard input.\n");
}

// The interpreter's own line says only the error code; this says in words
// what was looked for and where to look next.
void explainOpenFailure(const std::string &device, std::uint32_t error)
{
    const std::string name = device.substr(device.find_last_of('\\') + 1);
    switch (error) {
    case platform::kErrorFileNotFound:
        std::fprintf(stderr,
                     "tarvell-i2c: no device %s: neither a simulated card serving %s/%s nor the card's own I2C "
                     "adapter was found.\n"
                     "  Simulated card: start tarvell-card-sim first, with the same XDG_RUNTIME_DIR.\n"
                     "  Real card: it must show as [8086:e20b] with subsystem [1f2e:4158] in "
                     "'lspci -nn -v -d 8086:e20b', and /dev/i2c-* must exist ('modprobe i2c-dev').\n",
                     name.c_str(), platform::runtimeDirectory().c_str(), name.c_str());
        break;
    case platform::kErrorAccessDenied:
        std::fprintf(stderr,
                     "tarvell-i2c: no permission to open the card's I2C adapter. The package's udev rule gives it "
                     "to the user at the seat: log out and in once after installing, and check it with "
                     "'getfacl /dev/i2c-N'.\n");
        break;
    case platform::kErrorBusy:
    case platform::kErrorSharingViolation:
        std::fprintf(stderr,
                     "tarvell-i2c: the card's device is in use, by a running tarvell-vorn or by a kernel driver at "
                     "its address. Try again when the program is not talking to the card.\n");
        break;
    default:
        std::fprintf(stderr, "tarvell-i2c: the card's device %s could not be opened (error %u).\n", name.c_str(),
                     unsigned(error));
    }
}

} // namespace

int main(int argc, char **argv)
{
    std::string device = known_card::kDevicePath;
    std::vector<std::string> texts;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--device") == 0) {
            if (i + 1 >= argc) {
                usage();
                return 2;
            }
            device = argv[++i];
        } else if (std::strcmp(argv[i], "--help") == 0) {
            usage();
            return 0;
        } else {
            texts.emplace_back(argv[i]);
        }
    }

    const mcu::OpenResult open = mcu::OpenDriverConnection(device.c_str());
    if (open == mcu::OpenResult::DeviceFailed)
        explainOpenFailure(device, platform::lastError());
    // Each text runs as a plain command: a read's bytes are printed once, by
    // the command itself.
    const auto run = [](const std::string &text) { mcu::RunCommand(text.c_str()); };
    if (texts.empty()) {
        std::string line;
        while (std::getline(std::cin, line))
            run(line);
    } else {
        for (const std::string &text : texts)
            run(text);
    }
    mcu::CloseDriverConnection();
    std::fflush(stdout);
    return open == mcu::OpenResult::Opened ? 0 : 1;
}
