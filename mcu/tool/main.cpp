// tarvell-i2c: runs I2C command texts against the peripheral device, one
// driver connection for all of them, and prints what the interpreter prints.

#include "mcu/card_mcu.h"
#include "mcu/commands.h"
#include "mcu/parameters.h"
#include "mcu/transport.h"

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

// Texts that bring bytes back run the way the card's reads do, so their
// bytes are dumped as a card read would return them.
bool returnsBytes(const std::string &text)
{
    const std::string keyword = mcu::CommandKeyword(mcu::TokenizeCommandLine(text));
    return keyword == "read" || keyword == "writeread" || keyword == "pdi" || keyword == "sequence";
}

void run(const std::string &text)
{
    if (returnsBytes(text))
        mcu::RunReadCommand(text.c_str());
    else
        mcu::RunCommand(text.c_str());
}

} // namespace

int main(int argc, char **argv)
{
    std::string device = mcu::kCardDevicePath;
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

    const bool opened = mcu::OpenDriverConnection(device.c_str()) == mcu::OpenResult::Opened;
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
    return opened ? 0 : 1;
}
