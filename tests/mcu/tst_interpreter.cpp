// The command language: tokens, every command's parse rule and messages, the
// sequence descriptor and the completion lines.

#include "output_capture.h"

#include "mcu/commands.h"
#include "mcu/connection.h"
#include "platform/overlapped.h"

#include <QtTest>

using namespace mcu;

namespace {

QString hex(const ByteBuffer &bytes)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(bytes.data()),
                                          int(bytes.size())).toHex());
}

// What a parsed command will send and receive, in one line; "-" for none.
QString describe(const CCommand *c)
{
    if (!c)
        return QStringLiteral("-");
    QString d = QString::fromStdString(c->name);
    if (auto *i = dynamic_cast<const CIndexCommand *>(c))
        return d + ' ' + QString::number(i->index);
    if (auto *wr = dynamic_cast<const CWriteReadCommand *>(c))
        return d + ' ' + hex(wr->writeBuffer) + ' ' + QString::number(wr->data.size());
    if (auto *g = dynamic_cast<const CGpioCommand *>(c))
        return d + (g->setsLine ? " set " : " get ") + hex(g->data);
    if (dynamic_cast<const CWriteCommand *>(c))
        return d + ' ' + hex(c->data);
    return c->data.empty() ? d : d + ' ' + QString::number(c->data.size());
}

std::string dumpLine(const std::string &hexBytes, int count)
{
    return "  " + hexBytes + std::string(std::size_t(3 * (16 - count)), ' ') + "\n";
}

const std::string kMissing = "Missing required parameter\n";
const std::string kSimpleExpected = "Parser failed. Expected: opitonal [delay] in us followed by "
                                    "either <numBytes> to read or {}-byte array to write\n";
const std::string kListExpected = "Parser failed. Expected: opitonal [delay] in us followed by "
                                  "either at least one <numBytes> to read or at least one "
                                  "{}-byte arrays to write\n";
const std::string kNoParser = "Cannot determine parser. Start each sequence entry with -s or -b\n";

} // namespace

class InterpreterTest : public QObject {
    Q_OBJECT

private slots:
    void tokenizer()
    {
        const struct {
            const char *text, *tokens;
        } rows[] = {
            {"Write {00 E3 00}", "Write|{|00|E3|00|}"}, {"{01, 02}", "{|01,|02|}"},
            {"a{b}", "a{b|}"},                          {"01}}", "01}|}"},
            {"}}{x", "}|}|{|x"},                        {"\tread\r\n5\v", "read|5"},
            {" \t ", ""},                               {"write \xC3\x85", "write|\xC3\x85"},
        };
        for (const auto &row : rows) {
            QStringList tokens;
            for (const std::string &t : TokenizeCommandLine(row.text))
                tokens << QString::fromStdString(t);
            QCOMPARE(tokens.join('|'), QString::fromUtf8(row.tokens));
        }
    }

    void parseRulesAndMessages()
    {
        const std::string buf = "Buffer required\n", len = "Length required\n";
        std::string longList = "sequence -b", manyEntries = "sequence";
        for (int i = 0; i < 17; ++i) {
            longList += " 65535";
            manyEntries += " -s 65535";
        }
        const std::string tooLong = "Sequence too long - at most 1048576 bytes each way\n";
        const struct {
            std::string text;
            const char *command; // as describe() gives it
            std::string printed;
        } rows[] = {
            {"wRITE {00 e0 21}", "write 00e021", ""},
            {"write {}", "write ", ""},
            {"write 4 {01 02}", "write 01020000", ""},
            {"write 0", "write ", ""},
            {"write 1 {01 02}", "-", "buffer has too many initializers\n" + buf},
            {"write 2 01", "-", kMissing + kMissing + "unclosed buffer\n" + buf},
            {"write {01 02", "-", "output buffer must end with }\n" + buf},
            {"write 3 {01 zz}", "-", "Value zz is not a number\ninvalid byte value zz\n" + buf},
            {"write {1 2FF}", "write 01ff", "Value 2FF is out of bounds\n"},
            {"write", "-", kMissing + "Length expected\n" + buf},
            {"write 65536 {01}", "-", "Value 65536 is out of bounds\nLength expected\n" + buf},
            {"read 5", "read 5", ""},
            {"read", "-", kMissing + len},
            {"read 5x", "-", "Value 5x is not a number\n" + len},
            {"read 4294967295", "-", "Value 4294967295 is out of bounds\n" + len},
            {"read 4294967301", "-", "Value 4294967301 is out of bounds\n" + len}, // not cut to 5
            {"Writeread {82} 2", "writeread 82 2", ""},
            {"writeread 2 {A0} 32", "writeread a000 32", ""},
            {"writeread {82}", "-", kMissing + len},
            {"writeread", "-", kMissing + "Length expected\n" + buf},
            {"@t open 1", "open 1", ""},
            {"@t", "-", kMissing + "Error - could not pop tag\n"},
            {"", "-", kMissing},
            {"open", "open 0", ""},
            {"open x", "open 0", "Value x is not a number\n"},
            {"IntDisable 3 extra", "intdisable 3", ""},
            {"pdi", "pdi", "Enter Pending PDI mode:\nBuffer length is required if you want to query PDI status!\n"
                           "For example: pdi 1\n"},
            {"pdi 0", "pdi", "Enter Pending PDI mode:\n"},
            {"pdi 9", "pdi 1",
             "Enter Querying PDI mode:\nOnly one byte will be returned as interrupt status!\n"},
            {"gpio 3", "gpio get 0300000001000000", ""},
            {"gpio 258 5", "gpio set 0201000000010000", ""},
            {"gpio 1 0", "gpio set 0100000000000000", ""},
            {"gpio 1 high", "gpio get 0100000001000000", "Value high is not a number\n"},
            {"gpio", "-", kMissing + "GPIO Idx required\n"},
            {"prt", "-", ".....\n"},
            {"sequence", "-", "Sequence parsed, but no read/write data found\n"},
            {"sequence -S 2", "-", kNoParser},
            {"sequence -s 2 3", "-", kNoParser},
            {"sequence -s [ 100 ] 2", "-", "Value [ is not a number\n" + len + kSimpleExpected},
            {"sequence -s [1x] 2", "-", "Value 1x is not a number\n" + kSimpleExpected},
            {"sequence -b", "-", kMissing + len + kListExpected},
            {"sequence -s {01", "-", "output buffer must end with }\n" + buf + kSimpleExpected},
            {"sequence -m {01} {0g}", "-",
             "Value 0g is not a number\ninvalid byte value 0g\n" + buf + kListExpected},
            {longList, "-", tooLong + kListExpected},
            {manyEntries, "-", tooLong},
        };
        OutputCapture out;
        for (const auto &row : rows) {
            const auto command = ParseCommand(TokenizeCommandLine(row.text));
            QVERIFY2(describe(command.get()) == QLatin1String(row.command),
                     qPrintable(QString::fromStdString(row.text) + " -> " + describe(command.get())));
            QCOMPARE(out.take(), row.printed);
        }
    }

    void helpAndUnknownKeywords()
    {
        OutputCapture out;
        QVERIFY(!ParseCommand(TokenizeCommandLine("HeLp")));
        const std::string help = out.take();
        QVERIFY(help.rfind("\nCommands:\n  open <idx>               open handle", 0) == 0);
        QVERIFY(!ParseCommand(TokenizeCommandLine("gpioinv 1")));
        QCOMPARE(out.take(), "unrecognized command gpioinv\n" + help);
        QVERIFY(!ParseCommand(TokenizeCommandLine("@a @b open"))); // one tag only
        QCOMPARE(out.take(), "unrecognized command @b\n" + help);

        QElapsedTimer timer;
        timer.start();
        QVERIFY(!ParseCommand(TokenizeCommandLine("WAIT")));
        QCOMPARE(out.take(), std::string(45, '.') + "\n");
        QVERIFY(timer.elapsed() >= 990); // a second, not a clock tick
    }

    void completionLines()
    {
        // The thread's last error is 5 and the status passed in is 31, so a
        // line that shows the wrong one of the two fails.
        const struct {
            const char *text;
            QByteArray returned;
            std::uint32_t information;
            std::string success, failure;
        } rows[] = {
            {"open 2", {}, 0, "Peripheral target 2 opened\n", "Error opening peripheral 2 - status 5\n"},
            {"close", {}, 0, "Peripheral target closed\n", "Error 5\n"},
            {"lockconn", {}, 0, "Peripheral target locked\n", "Error 5\n"},
            {"unlock", {}, 0, "Peripheral target unlocked\n", "Error 5\n"},
            {"read 3", QByteArray::fromHex("a1b2c3"), 1, "1 bytes read\n" + dumpLine("a1 ", 1),
             "Error 31\n"},
            {"write {01 02}", {}, 2, "2 bytes written\n", "Error 31\n"},
            {"writeread {82} 2", QByteArray::fromHex("3412"), 9,
             "9 bytes returned\n" + dumpLine("34 12 ", 2), "Error 5\n"},
            {"signal", {}, 0, "Interrupt signalled\n", "Error 5\n"},
            {"gpio 4", QByteArray::fromHex("0400000001010000"), 8,
             "GPIO preipheral 4 line read state = 1\n",
             "Error reading from GPIO peripheral 4 - status 5\n"},
            {"gpio 4 1", QByteArray::fromHex("0400000000000000"), 8,
             "GPIO preipheral 4 line changed to = 0\n",
             "Error writing to GPIO peripheral 4 - status 5\n"},
            {"intenable 6", {}, 0, "Interrupt 6 enabled\n", "Error enabling Interrupt 6 - status 5\n"},
            {"intdisable 6", {}, 0, "Interrupt 6 Disabled\n",
             "Error disabling Interrupt 6 - status 5\n"},
            {"pdi 1", QByteArray::fromHex("5a"), 1, "PD interrupt status value:\n" + dumpLine("5a ", 1),
             "error 31\n"},
            {"pdi 0", {}, 0, "Received PD interrupt without data returned\n", "error 31\n"},
        };
        OutputCapture out;
        for (const auto &row : rows) {
            auto command = ParseCommand(TokenizeCommandLine(row.text));
            QVERIFY(command && std::size_t(row.returned.size()) <= command->data.size());
            std::copy(row.returned.begin(), row.returned.end(), command->data.begin());
            out.take();
            platform::setLastError(5);
            command->Complete(0, row.information);
            QCOMPARE(out.take(), row.success);
            platform::setLastError(5);
            command->Complete(31, row.information);
            QCOMPARE(out.take(), row.failure);
        }

        // Only succeeded completions change the enabled-interrupt set.
        EnabledInterrupts().clear();
        for (const char *text : {"intenable 9", "intenable 2", "intdisable 9"})
            ParseCommand(TokenizeCommandLine(text))->Complete(0, 0);
        ParseCommand(TokenizeCommandLine("intenable 4"))->Complete(31, 0);
        ParseCommand(TokenizeCommandLine("intdisable 2"))->Complete(50, 0);
        QCOMPARE(EnabledInterrupts(), (std::set<std::uint32_t>{2}));
        EnabledInterrupts().clear();
    }

    void sequenceCompletion()
    {
        OutputCapture out;
        auto command = ParseCommand(TokenizeCommandLine("sequence -s {01} -b [50] 2 3 -s 1 -m 1"));
        QVERIFY(command && command->data.size() == 8);
        const QByteArray returned = QByteArray::fromHex("a1a2b1b2b3c1d1");
        std::copy(returned.begin(), returned.end(), command->data.begin());
        out.take();
        // Only what the driver returned is shown.
        command->Complete(0, 3);
        QCOMPARE(out.take(), "3 total bytes returned\n"
                             "Buffer List 1 [50]: <2 Entries>\n"
                             " Entry  1.0: \n" + dumpLine("a1 a2 ", 2)
                                 + " Entry  1.1: \n" + dumpLine("b1 ", 1)
                                 + "Simple 2 [0]:\n"
                                   "MDL 3 [0]: <1 Entry>\n"
                                   " Entry  3.0: \n");
        dynamic_cast<CSequenceCommand &>(*command).entries[2].format = 8;
        command->Complete(0, 7);
        QCOMPARE(out.take(), "7 total bytes returned\n"
                             "Buffer List 1 [50]: <2 Entries>\n"
                             " Entry  1.0: \n" + dumpLine("a1 a2 ", 2)
                                 + " Entry  1.1: \n" + dumpLine("b1 b2 b3 ", 3)
                                 + "Error: Cannot determine fromat of the entry #2, (format = 8)\n");
        platform::setLastError(5);
        command->Complete(31, 0);
        QCOMPARE(out.take(), std::string("Error 5\n"));
    }
};

QTEST_APPLESS_MAIN(InterpreterTest)
#include "tst_interpreter.moc"
