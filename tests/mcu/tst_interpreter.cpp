// The command language: tokens, parameters, every command's parse rule, the
// sequence descriptor and every completion line.

#include "output_capture.h"

#include "mcu/commands.h"
#include "mcu/connection.h"
#include "mcu/parameters.h"
#include "mcu/sequence.h"
#include "platform/overlapped.h"

#include <QtTest>

using namespace mcu;

Q_DECLARE_METATYPE(std::string)

namespace {

QString joined(const TokenList &tokens)
{
    QStringList parts;
    for (const std::string &token : tokens)
        parts << QString::fromStdString(token);
    return parts.join('|');
}

QByteArray bytes(const ByteBuffer &buffer)
{
    return QByteArray(reinterpret_cast<const char *>(buffer.data()), int(buffer.size()));
}

std::unique_ptr<CCommand> parse(const std::string &text)
{
    return ParseCommand(TokenizeCommandLine(text));
}

template <typename T>
T *as(const std::unique_ptr<CCommand> &command)
{
    return dynamic_cast<T *>(command.get());
}

std::string dumpLine(const std::string &hexBytes, int count)
{
    return "  " + hexBytes + std::string(std::size_t(3 * (16 - count)), ' ') + "\n";
}

const char kMissing[] = "Missing required parameter\n";
const char kSimpleExpected[] = "Parser failed. Expected: opitonal [delay] in us followed by "
                               "either <numBytes> to read or {}-byte array to write\n";
const char kListExpected[] = "Parser failed. Expected: opitonal [delay] in us followed by either "
                             "at least one <numBytes> to read or at least one {}-byte arrays to "
                             "write\n";

} // namespace

class InterpreterTest : public QObject {
    Q_OBJECT

private slots:
    void tokenizer_data();
    void tokenizer();
    void keywordsAndHexIgnoreCase();
    void buffers_data();
    void buffers();
    void numbersBehaveAsThirtyTwoBit();
    void readAndWriteRead_data();
    void readAndWriteRead();
    void tagsAndIndexRule();
    void pdiModes_data();
    void pdiModes();
    void gpioModes();
    void helpWaitPrtAndUnknown();
    void sequenceOfTwoEntriesOnTheWire();
    void sequenceOfTheHelpExample();
    void sequenceFailures_data();
    void sequenceFailures();
    void sequenceUnknownFormatIsLeftOut();
    void dumpLayout();
    void completionLines_data();
    void completionLines();
    void interruptSetFollowsCompletion();
    void sequenceCompletion();

private:
    OutputCapture out_;
};

void InterpreterTest::tokenizer_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("tokens");
    QTest::newRow("braces") << QByteArray("Write {00 E3 00}") << "Write|{|00|E3|00|}";
    QTest::newRow("comma kept") << QByteArray("{01, 02}") << "{|01,|02|}";
    QTest::newRow("brace inside") << QByteArray("a{b}") << "a{b|}";
    QTest::newRow("one trailing brace only") << QByteArray("01}}") << "01}|}";
    QTest::newRow("braces alone") << QByteArray("}}{x") << "}|}|{|x";
    QTest::newRow("tabs and line ends") << QByteArray("\tread\r\n5\v") << "read|5";
    QTest::newRow("blank") << QByteArray(" \t ") << "";
    QTest::newRow("utf-8 stays whole") << QByteArray("write \xC3\x85 \xE2\x80\xA6")
                                       << QString::fromUtf8("write|\xC3\x85|\xE2\x80\xA6");
}

void InterpreterTest::tokenizer()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, tokens);
    QCOMPARE(joined(TokenizeCommandLine(text.toStdString())), tokens);
}

void InterpreterTest::keywordsAndHexIgnoreCase()
{
    auto upper = parse("Write {00 E0 21}");
    auto lower = parse("wRITE {00 e0 21}");
    QVERIFY(as<CWriteCommand>(upper) && as<CWriteCommand>(lower));
    QCOMPARE(upper->name, std::string("write"));
    QCOMPARE(lower->name, std::string("write"));
    QCOMPARE(bytes(upper->data), QByteArray::fromHex("00e021"));
    QCOMPARE(bytes(lower->data), bytes(upper->data));
    QVERIFY(as<CLockConnectionCommand>(parse("LOCKCONN")));
    QVERIFY(as<CUnlockConnectionCommand>(parse("UnlockConn")));
    QVERIFY(as<CWriteReadCommand>(parse("WriteRead {82} 2")));
    QCOMPARE(out_.take(), std::string());
}

void InterpreterTest::buffers_data()
{
    QTest::addColumn<std::string>("text");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<std::string>("printed");
    const std::string bufferRequired = "Buffer required\n";

    QTest::newRow("empty braces") << std::string("write {}") << true << QByteArray() << std::string();
    QTest::newRow("counted, padded") << std::string("write 4 {01 02}") << true
                                     << QByteArray::fromHex("01020000") << std::string();
    QTest::newRow("counted, exact") << std::string("write 2 {01 02}") << true
                                    << QByteArray::fromHex("0102") << std::string();
    QTest::newRow("counted zero") << std::string("write 0") << true << QByteArray() << std::string();
    QTest::newRow("too many initializers")
        << std::string("write 1 {01 02}") << false << QByteArray()
        << "buffer has too many initializers\n" + bufferRequired;
    QTest::newRow("unclosed counted")
        << std::string("write 2 01") << false << QByteArray()
        << std::string(kMissing) + kMissing + "unclosed buffer\n" + bufferRequired;
    QTest::newRow("unclosed braces") << std::string("write {01 02") << false << QByteArray()
                                     << "output buffer must end with }\n" + bufferRequired;
    QTest::newRow("comma rejected as byte")
        << std::string("write {01, 02}") << false << QByteArray()
        << "Value 01, is not a number\ninvalid byte value 01,\n" + bufferRequired;
    QTest::newRow("bad byte in counted form")
        << std::string("write 3 {01 zz}") << false << QByteArray()
        << "Value zz is not a number\ninvalid byte value zz\n" + bufferRequired;
    QTest::newRow("out of bounds keeps low bits")
        << std::string("write {1 2FF}") << true << QByteArray::fromHex("01ff")
        << std::string("Value 2FF is out of bounds\n");
    QTest::newRow("no parameter")
        << std::string("write") << false << QByteArray()
        << std::string(kMissing) + "Length expected\n" + bufferRequired;
    QTest::newRow("length not a number")
        << std::string("write x") << false << QByteArray()
        << "Value x is not a number\nLength expected\n" + bufferRequired;
    QTest::newRow("length beyond one transfer")
        << std::string("write 65536 {01}") << false << QByteArray()
        << "Value 65536 is out of bounds\nLength expected\n" + bufferRequired;
    QTest::newRow("longest transfer") << std::string("write 65535 }") << true
                                      << QByteArray(65535, '\0') << std::string();
}

void InterpreterTest::buffers()
{
    QFETCH(std::string, text);
    QFETCH(bool, parsed);
    QFETCH(QByteArray, data);
    QFETCH(std::string, printed);
    auto command = parse(text);
    QCOMPARE(bool(command), parsed);
    if (command)
        QCOMPARE(bytes(command->data), data);
    QCOMPARE(out_.take(), printed);
}

void InterpreterTest::numbersBehaveAsThirtyTwoBit()
{
    std::uint32_t value = 7;
    QVERIFY(ParseUnsigned32("4294967295", 10, &value));
    QCOMPARE(value, 0xFFFFFFFFu);
    QVERIFY(ParseUnsigned32("99999999999", 10, &value)); // saturates, does not wrap
    QCOMPARE(value, 0xFFFFFFFFu);
    QVERIFY(ParseUnsigned32("-2", 16, &value));
    QCOMPARE(value, 0xFFFFFFFEu);
    QVERIFY(ParseUnsigned32("+1f", 16, &value));
    QCOMPARE(value, 0x1Fu);
    QVERIFY(!ParseUnsigned32("", 10, &value));
    QVERIFY(!ParseUnsigned32("12a", 10, &value));
    QVERIFY(!ParseUnsigned32("-", 10, &value));

    // A byte of "-2" keeps its low eight bits, with a warning.
    auto command = parse("write {-2}");
    QVERIFY(command);
    QCOMPARE(bytes(command->data), QByteArray::fromHex("fe"));
    QCOMPARE(out_.take(), std::string("Value -2 is out of bounds\n"));
}

void InterpreterTest::readAndWriteRead_data()
{
    QTest::addColumn<std::string>("text");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<int>("receive");
    QTest::addColumn<std::string>("printed");
    QTest::newRow("read") << std::string("read 5") << true << QByteArray() << 5 << std::string();
    QTest::newRow("read zero") << std::string("read 0") << true << QByteArray() << 0 << std::string();
    QTest::newRow("read without length")
        << std::string("read") << false << QByteArray() << 0
        << std::string(kMissing) + "Length required\n";
    QTest::newRow("read bad length") << std::string("read 5x") << false << QByteArray() << 0
                                     << std::string("Value 5x is not a number\nLength required\n");
    QTest::newRow("read of 4 GiB refused")
        << std::string("read 4294967295") << false << QByteArray() << 0
        << std::string("Value 4294967295 is out of bounds\nLength required\n");
    QTest::newRow("writeread") << std::string("Writeread {82} 2") << true
                               << QByteArray::fromHex("82") << 2 << std::string();
    QTest::newRow("writeread counted")
        << std::string("writeread 2 {A0} 32") << true << QByteArray::fromHex("a000") << 32
        << std::string();
    QTest::newRow("writeread without length")
        << std::string("writeread {82}") << false << QByteArray() << 0
        << std::string(kMissing) + "Length required\n";
    QTest::newRow("writeread without buffer")
        << std::string("writeread") << false << QByteArray() << 0
        << std::string(kMissing) + "Length expected\nBuffer required\n";
}

void InterpreterTest::readAndWriteRead()
{
    QFETCH(std::string, text);
    QFETCH(bool, parsed);
    QFETCH(QByteArray, sent);
    QFETCH(int, receive);
    QFETCH(std::string, printed);
    auto command = parse(text);
    QCOMPARE(bool(command), parsed);
    QCOMPARE(out_.take(), printed);
    if (!command)
        return;
    QCOMPARE(bytes(command->data), QByteArray(receive, '\0'));
    if (auto *writeRead = as<CWriteReadCommand>(command))
        QCOMPARE(bytes(writeRead->writeBuffer), sent);
    else
        QVERIFY(as<CReadCommand>(command));
}

void InterpreterTest::tagsAndIndexRule()
{
    auto tagged = parse("@t open 1");
    QVERIFY(as<COpenCommand>(tagged));
    QCOMPARE(as<COpenCommand>(tagged)->index, 1u);
    QVERIFY(tagged->tag.empty());
    QCOMPARE(out_.take(), std::string());

    QVERIFY(!parse("@t"));
    QCOMPARE(out_.take(), std::string(kMissing) + "Error - could not pop tag\n");
    QVERIFY(!parse(""));
    QCOMPARE(out_.take(), std::string(kMissing));

    // Only one tag: a second one is taken as the keyword.
    QVERIFY(!parse("@a @b open"));
    QVERIFY(out_.take().rfind("unrecognized command @b\n", 0) == 0);
    QCOMPARE(CommandKeyword(TokenizeCommandLine("@t WriteRead {82} 2")), std::string("writeread"));
    QCOMPARE(CommandKeyword(TokenizeCommandLine("@t")), std::string());

    auto bare = parse("open");
    QCOMPARE(as<COpenCommand>(bare)->index, 0u);
    auto wrong = parse("open x");
    QVERIFY(as<COpenCommand>(wrong));
    QCOMPARE(as<COpenCommand>(wrong)->index, 0u);
    QCOMPARE(out_.take(), std::string("Value x is not a number\n"));

    QCOMPARE(as<CIntEnableCommand>(parse("intenable 7"))->index, 7u);
    QCOMPARE(as<CIntDisableCommand>(parse("IntDisable 3 extra"))->index, 3u);
    QVERIFY(as<CCloseCommand>(parse("close ignored tokens")));
    QVERIFY(as<CSignalInterruptCommand>(parse("signal")));
    QCOMPARE(out_.take(), std::string());
}

void InterpreterTest::pdiModes_data()
{
    QTest::addColumn<std::string>("text");
    QTest::addColumn<int>("length");
    QTest::addColumn<std::string>("printed");
    const std::string pending = "Enter Pending PDI mode:\n";
    const std::string advice = "Buffer length is required if you want to query PDI status!\n"
                               "For example: pdi 1\n";
    const std::string query = "Enter Querying PDI mode:\n"
                              "Only one byte will be returned as interrupt status!\n";
    QTest::newRow("no number") << std::string("pdi") << 0 << pending + advice;
    QTest::newRow("not a number") << std::string("pdi q") << 0
                                  << "Value q is not a number\n" + pending + advice;
    QTest::newRow("zero") << std::string("pdi 0") << 0 << pending;
    QTest::newRow("one") << std::string("pdi 1") << 1 << query;
    QTest::newRow("any other") << std::string("pdi 9") << 1 << query;
}

void InterpreterTest::pdiModes()
{
    QFETCH(std::string, text);
    QFETCH(int, length);
    QFETCH(std::string, printed);
    auto command = parse(text);
    QVERIFY(as<COnPdInterruptCommand>(command));
    QCOMPARE(bytes(command->data), QByteArray(length, '\0'));
    QCOMPARE(out_.take(), printed);
}

void InterpreterTest::gpioModes()
{
    auto read = parse("gpio 3");
    QVERIFY(as<CGpioCommand>(read));
    QVERIFY(!as<CGpioCommand>(read)->setsLine);
    QCOMPARE(bytes(read->data), QByteArray::fromHex("0300000001000000"));

    auto set = parse("gpio 258 5");
    QVERIFY(as<CGpioCommand>(set)->setsLine);
    QCOMPARE(bytes(set->data), QByteArray::fromHex("0201000000010000"));

    auto clear = parse("gpio 1 0");
    QVERIFY(as<CGpioCommand>(clear)->setsLine);
    QCOMPARE(bytes(clear->data), QByteArray::fromHex("0100000000000000"));

    // A level that is not a number reads the line instead.
    auto odd = parse("gpio 1 high");
    QVERIFY(!as<CGpioCommand>(odd)->setsLine);
    QCOMPARE(bytes(odd->data), QByteArray::fromHex("0100000001000000"));
    QCOMPARE(out_.take(), std::string("Value high is not a number\n"));

    QVERIFY(!parse("gpio"));
    QCOMPARE(out_.take(), std::string(kMissing) + "GPIO Idx required\n");
}

void InterpreterTest::helpWaitPrtAndUnknown()
{
    QVERIFY(!parse("help"));
    const std::string help = out_.take();
    QCOMPARE(help, HelpText());
    QVERIFY(!parse("HeLp"));
    QCOMPARE(out_.take(), help);

    // Byte-exact landmarks: leading and trailing empty line, 40 lines between,
    // the backslash continuation, the tab, and the intdisable column.
    QVERIFY(help.rfind("\nCommands:\n", 0) == 0);
    QVERIFY(help.size() > 2 && help.compare(help.size() - 2, 2, "\n\n") == 0);
    QCOMPARE(std::count(help.begin(), help.end(), '\n'), 42L);
    QVERIFY(help.find("-s [200] 3 -b 5 6 \\\n                              -b [11]")
            != std::string::npos);
    QVERIFY(help.find("  gpioinv <idx> [value]\t   set/get GPIO line inversion for IOxAPIC\n")
            != std::string::npos);
    const auto column = [&](const std::string &line) {
        const std::size_t at = help.find(line);
        return at == std::string::npos ? std::string::npos
                                       : help.find_first_not_of(' ', at + line.size()) - at;
    };
    QCOMPARE(column("  intdisable <idx>"), column("  intenable <idx>"));
    QCOMPARE(column("  intdisable <idx>"), std::size_t(27));

    QVERIFY(!parse("prt"));
    QCOMPARE(out_.take(), std::string(".....\n"));
    QVERIFY(!parse("gpioinv 1"));
    QCOMPARE(out_.take(), "unrecognized command gpioinv\n" + help);
    QVERIFY(!parse("@x Foo bar"));
    QCOMPARE(out_.take(), "unrecognized command Foo\n" + help);

    QElapsedTimer timer;
    timer.start();
    QVERIFY(!parse("WAIT"));
    QCOMPARE(out_.take(), std::string(".............................................\n"));
    QVERIFY(timer.elapsed() >= 990); // it waits a second, not a clock tick
}

void InterpreterTest::sequenceOfTwoEntriesOnTheWire()
{
    auto command = parse("sequence -s {01} -b [50] 2 3");
    auto *sequence = as<CSequenceCommand>(command);
    QVERIFY(sequence);
    QCOMPARE(out_.take(), std::string());
    QCOMPARE(sequence->entries.size(), std::size_t(2));

    const SequenceEntry &write = sequence->entries[0];
    QCOMPARE(write.format, std::uint32_t(kFormatSimple));
    QCOMPARE(write.direction, std::uint32_t(kDirectionWrite));
    QCOMPARE(write.delay, 0u);
    QCOMPARE(write.elements.size(), std::size_t(1));
    QCOMPARE(bytes(write.elements[0].bytes), QByteArray::fromHex("01"));

    const SequenceEntry &read = sequence->entries[1];
    QCOMPARE(read.format, std::uint32_t(kFormatBufferList));
    QCOMPARE(read.direction, std::uint32_t(kDirectionRead));
    QCOMPARE(read.delay, 50u);
    QCOMPARE(read.elements.size(), std::size_t(2));
    QCOMPARE(read.elements[0].length, 2u);
    QCOMPARE(read.elements[1].length, 3u);

    const QByteArray descriptor = QByteArray::fromHex(
        "3c000000" "02000000" "01000000" "00000000" "00000000" // header
        "01000000" "02000000" "00000000" "01000000"             // simple write, 1 byte
        "02000000" "01000000" "32000000" "02000000" "02000000" "03000000" // list read
        "01");                                                  // write data
    QCOMPARE(bytes(sequence->inputBuffer), descriptor);
    QCOMPARE(bytes(sequence->data), QByteArray(6, '\0'));
}

void InterpreterTest::sequenceOfTheHelpExample()
{
    auto command = parse("sequence -s { 00 01 } -m [100] 2 -s [200] 3 -b 5 6 "
                         "-b [11] { 08 09 } { 10 11 } -s 12 -m { 13 } { 14 15 }");
    auto *sequence = as<CSequenceCommand>(command);
    QVERIFY(sequence);
    QCOMPARE(sequence->entries.size(), std::size_t(7));
    QCOMPARE(sequence->entries[1].delay, 100u);
    QCOMPARE(sequence->entries[2].delay, 200u);
    QCOMPARE(sequence->entries[4].delay, 11u);
    const QByteArray input = bytes(sequence->inputBuffer);
    // 20 + 16 x 7 + 4 x (1 + 2 + 2 + 2) = 160; 2 buffer lists; 2 MDLs with 3 elements.
    QCOMPARE(input.left(20), QByteArray::fromHex("a0000000070000000200000002000000"
                                                 "03000000"));
    QCOMPARE(input.mid(160), QByteArray::fromHex("000108091011131415"));
    QCOMPARE(input.size(), 169);
    QCOMPARE(sequence->data.size(), std::size_t(2 + 3 + 5 + 6 + 12 + 1));
    QCOMPARE(out_.take(), std::string());
}

void InterpreterTest::sequenceFailures_data()
{
    QTest::addColumn<std::string>("text");
    QTest::addColumn<std::string>("printed");
    const std::string noParser =
        "Cannot determine parser. Start each sequence entry with -s or -b\n";
    QTest::newRow("alone") << std::string("sequence")
                           << std::string("Sequence parsed, but no read/write data found\n");
    QTest::newRow("-x") << std::string("sequence -x") << noParser;
    QTest::newRow("flags are case-sensitive") << std::string("sequence -S 2") << noParser;
    QTest::newRow("second entry without flag") << std::string("sequence -s 2 3") << noParser;
    QTest::newRow("delay split over tokens")
        << std::string("sequence -s [ 100 ] 2")
        << "Value [ is not a number\nLength required\n" + std::string(kSimpleExpected);
    QTest::newRow("delay not a number")
        << std::string("sequence -s [1x] 2") << "Value 1x is not a number\n" + std::string(kSimpleExpected);
    QTest::newRow("empty delay")
        << std::string("sequence -s [] 2") << "Value  is not a number\n" + std::string(kSimpleExpected);
    QTest::newRow("list without elements")
        << std::string("sequence -b")
        << std::string(kMissing) + "Length required\n" + kListExpected;
    QTest::newRow("simple write unclosed")
        << std::string("sequence -s {01")
        << "output buffer must end with }\nBuffer required\n" + std::string(kSimpleExpected);
    QTest::newRow("mdl write with bad byte")
        << std::string("sequence -m {01} {0g}")
        << "Value 0g is not a number\ninvalid byte value 0g\nBuffer required\n"
               + std::string(kListExpected);
    std::string longList = "sequence -b";
    for (int i = 0; i < 17; ++i)
        longList += " 65535";
    QTest::newRow("one entry reading over 1 MiB")
        << longList
        << "Sequence too long - at most 1048576 bytes each way\n" + std::string(kListExpected);
    std::string manyEntries = "sequence";
    for (int i = 0; i < 17; ++i)
        manyEntries += " -s 65535";
    QTest::newRow("entries reading over 1 MiB together")
        << manyEntries << std::string("Sequence too long - at most 1048576 bytes each way\n");
}

void InterpreterTest::sequenceFailures()
{
    QFETCH(std::string, text);
    QFETCH(std::string, printed);
    QVERIFY(!parse(text));
    QCOMPARE(out_.take(), printed);
}

void InterpreterTest::sequenceUnknownFormatIsLeftOut()
{
    SequenceEntry odd;
    odd.format = 3;
    odd.direction = kDirectionRead;
    odd.elements.push_back({7, {}});
    SequenceEntry read;
    read.format = kFormatMdl;
    read.direction = kDirectionRead;
    read.delay = 9;
    read.elements.push_back({4, {}});
    const SequenceRequest request = BuildSequenceRequest({odd, read});
    QCOMPARE(out_.take(), std::string("Warning: cannot determine the transfer format: 3"));
    QCOMPARE(bytes(request.input),
             QByteArray::fromHex("28000000010000000000000001000000" "01000000"
                                 "04000000010000000900000001000000" "04000000"));
    QCOMPARE(request.outputLength, std::uint64_t(5));
}

void InterpreterTest::dumpLayout()
{
    const std::uint8_t data[17] = {0x00, 0x01, 0x7f, 0x80, 0xab, 0xff, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0x10};
    PrintDump(data, 0);
    QCOMPARE(out_.take(), std::string());
    PrintDump(data, 3);
    QCOMPARE(out_.take(), "  00 01 7f " + std::string(39, ' ') + "\n");
    PrintDump(data, 17);
    QCOMPARE(out_.take(), std::string("  00 01 7f 80 ab ff 06 07 08 09 0a 0b 0c 0d 0e 0f \n"
                                      "  10 ")
                              + std::string(45, ' ') + "\n");
}

void InterpreterTest::completionLines_data()
{
    // The thread's last error is 5 and the status passed in is 31, so a line
    // that shows the wrong one of the two fails.
    QTest::addColumn<std::string>("text");
    QTest::addColumn<QByteArray>("returned");
    QTest::addColumn<uint>("information");
    QTest::addColumn<std::string>("success");
    QTest::addColumn<std::string>("failure");
    const QByteArray none;
    QTest::newRow("open") << std::string("open 2") << none << 0u
                          << std::string("Peripheral target 2 opened\n")
                          << std::string("Error opening peripheral 2 - status 5\n");
    QTest::newRow("close") << std::string("close") << none << 0u
                           << std::string("Peripheral target closed\n") << std::string("Error 5\n");
    QTest::newRow("lock") << std::string("lock") << none << 0u
                          << std::string("Peripheral target locked\n") << std::string("Error 5\n");
    QTest::newRow("lockconn") << std::string("lockconn") << none << 0u
                              << std::string("Peripheral target locked\n") << std::string("Error 5\n");
    QTest::newRow("unlock") << std::string("unlock") << none << 0u
                            << std::string("Peripheral target unlocked\n") << std::string("Error 5\n");
    QTest::newRow("unlockconn") << std::string("unlockconn") << none << 0u
                                << std::string("Peripheral target unlocked\n")
                                << std::string("Error 5\n");
    QTest::newRow("read") << std::string("read 3") << QByteArray::fromHex("a1b2c3") << 3u
                          << "3 bytes read\n" + dumpLine("a1 b2 c3 ", 3) << std::string("Error 31\n");
    QTest::newRow("short read") << std::string("read 3") << QByteArray::fromHex("a1b2c3") << 1u
                                << "1 bytes read\n" + dumpLine("a1 ", 1) << std::string("Error 31\n");
    QTest::newRow("write") << std::string("write {01 02}") << none << 2u
                           << std::string("2 bytes written\n") << std::string("Error 31\n");
    QTest::newRow("writeread") << std::string("writeread {82} 2") << QByteArray::fromHex("3412")
                               << 2u << "2 bytes returned\n" + dumpLine("34 12 ", 2)
                               << std::string("Error 5\n");
    QTest::newRow("writeread overstating its count")
        << std::string("writeread {82} 2") << QByteArray::fromHex("3412") << 9u
        << "9 bytes returned\n" + dumpLine("34 12 ", 2) << std::string("Error 5\n");
    QTest::newRow("signal") << std::string("signal") << none << 0u
                            << std::string("Interrupt signalled\n") << std::string("Error 5\n");
    QTest::newRow("gpio read") << std::string("gpio 4") << QByteArray::fromHex("0400000001010000")
                               << 8u << std::string("GPIO preipheral 4 line read state = 1\n")
                               << std::string("Error reading from GPIO peripheral 4 - status 5\n");
    QTest::newRow("gpio set") << std::string("gpio 4 1") << QByteArray::fromHex("0400000000000000")
                              << 8u << std::string("GPIO preipheral 4 line changed to = 0\n")
                              << std::string("Error writing to GPIO peripheral 4 - status 5\n");
    QTest::newRow("intenable") << std::string("intenable 6") << none << 0u
                               << std::string("Interrupt 6 enabled\n")
                               << std::string("Error enabling Interrupt 6 - status 5\n");
    QTest::newRow("intdisable") << std::string("intdisable 6") << none << 0u
                                << std::string("Interrupt 6 Disabled\n")
                                << std::string("Error disabling Interrupt 6 - status 5\n");
    QTest::newRow("pdi query") << std::string("pdi 1") << QByteArray::fromHex("5a") << 1u
                               << "PD interrupt status value:\n" + dumpLine("5a ", 1)
                               << std::string("error 31\n");
    QTest::newRow("pdi pending") << std::string("pdi 0") << none << 0u
                                 << std::string("Received PD interrupt without data returned\n")
                                 << std::string("error 31\n");
    QTest::newRow("sequence") << std::string("sequence -s {01}") << none << 0u
                              << std::string("0 total bytes returned\n") << std::string("Error 5\n");
}

void InterpreterTest::completionLines()
{
    QFETCH(std::string, text);
    QFETCH(QByteArray, returned);
    QFETCH(uint, information);
    QFETCH(std::string, success);
    QFETCH(std::string, failure);

    auto command = parse(text);
    QVERIFY(command);
    out_.take();
    // What the driver put into the receive buffer.
    QVERIFY(std::size_t(returned.size()) <= command->data.size());
    std::copy(returned.begin(), returned.end(), command->data.begin());

    platform::setLastError(5);
    command->Complete(0, information);
    QCOMPARE(out_.take(), success);
    platform::setLastError(5);
    command->Complete(31, information);
    QCOMPARE(out_.take(), failure);
    EnabledInterrupts().clear();
}

void InterpreterTest::interruptSetFollowsCompletion()
{
    EnabledInterrupts().clear();
    parse("intenable 9")->Complete(0, 0);
    parse("intenable 2")->Complete(0, 0);
    parse("intenable 4")->Complete(31, 0); // failed: not enabled
    QCOMPARE(EnabledInterrupts(), (std::set<std::uint32_t>{2, 9}));
    parse("intdisable 9")->Complete(0, 0);
    parse("intdisable 2")->Complete(50, 0); // failed: still enabled
    QCOMPARE(EnabledInterrupts(), (std::set<std::uint32_t>{2}));
    EnabledInterrupts().clear();
    out_.take();
}

void InterpreterTest::sequenceCompletion()
{
    auto command = parse("sequence -s {01} -b [50] 2 3 -s 1 -m 1");
    QVERIFY(as<CSequenceCommand>(command));
    QCOMPARE(command->data.size(), std::size_t(8));
    const QByteArray returned = QByteArray::fromHex("a1a2b1b2b3c1d1");
    std::copy(returned.begin(), returned.end(), command->data.begin());
    out_.take();

    command->Complete(0, 7);
    QCOMPARE(out_.take(), "7 total bytes returned\n"
                          "Buffer List 1 [50]: <2 Entries>\n"
                          " Entry  1.0: \n" + dumpLine("a1 a2 ", 2)
                          + " Entry  1.1: \n" + dumpLine("b1 b2 b3 ", 3)
                          + "Simple 2 [0]:\n" + dumpLine("c1 ", 1)
                          + "MDL 3 [0]: <1 Entry>\n"
                          " Entry  3.0: \n" + dumpLine("d1 ", 1));

    // Only what the driver returned is shown.
    command->Complete(0, 3);
    QCOMPARE(out_.take(), "3 total bytes returned\n"
                          "Buffer List 1 [50]: <2 Entries>\n"
                          " Entry  1.0: \n" + dumpLine("a1 a2 ", 2)
                          + " Entry  1.1: \n" + dumpLine("b1 ", 1)
                          + "Simple 2 [0]:\n"
                          "MDL 3 [0]: <1 Entry>\n"
                          " Entry  3.0: \n");

    auto *sequence = as<CSequenceCommand>(command);
    sequence->entries[2].format = 8;
    command->Complete(0, 7);
    QCOMPARE(out_.take(), "7 total bytes returned\n"
                          "Buffer List 1 [50]: <2 Entries>\n"
                          " Entry  1.0: \n" + dumpLine("a1 a2 ", 2)
                          + " Entry  1.1: \n" + dumpLine("b1 b2 b3 ", 3)
                          + "Error: Cannot determine fromat of the entry #2, (format = 8)\n");
}

QTEST_APPLESS_MAIN(InterpreterTest)
#include "tst_interpreter.moc"
