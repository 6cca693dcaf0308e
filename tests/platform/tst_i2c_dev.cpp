// The i2c-dev backend through its system seam, on made-up sysfs trees.

#include "platform/control_codes.h"
#include "platform/i2c_dev.h"
#include "platform/known_card.h"
#include "platform/sequence_descriptor.h"

#include <QtTest>

#include <cerrno>
#include <thread>

using namespace platform;

namespace {

class FakeSystem : public I2cSystem {
public:
    QString root;
    QStringList opened;
    QList<unsigned> timeouts;
    QList<QByteArray> sent; // per transfer: "w<addr>:<hex>" / "r<addr>:<len>" joined by blanks
    int openResult = 42, lockResult = 0, timeoutResult = 0, transferResult = 0;
    int transferDelayMs = 0;
    bool closed = false;

    std::string sysfsRoot() const override { return (root + "/sys").toStdString(); }
    std::string devRoot() const override { return (root + "/dev").toStdString(); }
    int open(const std::string &path) override
    {
        opened << QString::fromStdString(path);
        return openResult;
    }
    int lock(int) override { return lockResult; }
    int setTimeout(int, unsigned ms) override
    {
        timeouts << ms;
        return timeoutResult;
    }
    int transfer(int, i2c_msg *messages, unsigned count) override
    {
        QByteArrayList parts;
        for (unsigned i = 0; i < count; ++i) {
            const i2c_msg &m = messages[i];
            const QByteArray head = (m.flags & I2C_M_RD ? "r" : "w") + QByteArray::number(m.addr, 16);
            if (m.flags & I2C_M_RD) {
                parts << head + ":" + QByteArray::number(m.len);
                for (int k = 0; k < m.len; ++k)
                    m.buf[k] = std::uint8_t(0x30 + k);
            } else {
                parts << head + ":" + QByteArray(reinterpret_cast<char *>(m.buf), m.len).toHex();
            }
        }
        sent << parts.join(' ');
        std::this_thread::sleep_for(std::chrono::milliseconds(transferDelayMs));
        return transferResult;
    }
    void close(int) override { closed = true; }
};

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content + "\n");
}

void pciFunction(const QString &dir, unsigned vendor, unsigned device, unsigned subVendor,
                 unsigned sub)
{
    const char *names[] = {"vendor", "device", "subsystem_vendor", "subsystem_device"};
    const unsigned values[] = {vendor, device, subVendor, sub};
    for (int i = 0; i < 4; ++i)
        writeFile(dir + "/" + names[i], "0x" + QByteArray::number(values[i], 16).rightJustified(4, '0'));
}

void adapter(const QString &sys, const QString &parent, const QString &node, const char *name)
{
    writeFile(parent + "/" + node + "/name", name);
    QDir().mkpath(sys + "/class/i2c-adapter");
    QVERIFY(QFile::link(parent + "/" + node, sys + "/class/i2c-adapter/" + node));
}

constexpr char kDw[] = "Synopsys DesignWare I2C adapter";
using namespace known_card;

// Bus transfers may go pending on a loaded machine; wait them out.
bool finish(Device &device, bool started, Overlapped &ov, std::uint32_t *n)
{
    return started || (lastError() == kErrorIoPending && device.overlappedResult(ov, n, true));
}

std::vector<std::uint8_t> le32s(std::initializer_list<std::uint32_t> values)
{
    std::vector<std::uint8_t> out;
    for (std::uint32_t v : values)
        for (int i = 0; i < 4; ++i)
            out.push_back(std::uint8_t(v >> (8 * i)));
    return out;
}

} // namespace

class TestI2cDev : public QObject {
    Q_OBJECT

    QTemporaryDir machine_;   // another maker's B580 first, two of ours, an iGPU, DDC buses
    QTemporaryDir foreign_;   // only another maker's B580

    std::unique_ptr<Device> open(const std::shared_ptr<FakeSystem> &fake, std::uint32_t *error,
                                 const QString &root, const char *name = "NF_I2C_BUS_00_0X0060")
    {
        fake->root = root;
        return openI2cCard(name, fake, error);
    }
    std::unique_ptr<Device> openCard(const std::shared_ptr<FakeSystem> &fake)
    {
        std::uint32_t error = 99;
        auto device = open(fake, &error, machine_.path());
        return error == 0 ? std::move(device) : nullptr;
    }

private slots:
    void initTestCase()
    {
        for (QTemporaryDir *dir : {&machine_, &foreign_}) {
            const QString sys = dir->path() + "/sys", pci = sys + "/devices/pci0000:00";
            const QString other = pci + "/0000:00:01.0/0000:03:00.0";
            pciFunction(other, kPciVendorId, kPciDeviceId, 0x1849, 0x6025);
            adapter(sys, other + "/i2c_designware.0", "i2c-1", kDw);
            if (dir == &foreign_)
                continue;
            const QString igpu = pci + "/0000:00:02.0";
            pciFunction(igpu, 0x8086, 0xa780, 0x1043, 0x8882);
            adapter(sys, igpu, "i2c-2", kDw);
            adapter(sys, igpu, "i2c-3", "i915 gmbus dpb");
            const QString sw = pci + "/0000:00:1c.0/0000:07:00.0";
            pciFunction(sw, 0x8086, 0xe2ff, kPciSubsystemVendorId, kPciSubsystemId);
            adapter(sys, sw + "/i2c_designware.4", "i2c-4", kDw);
            const QString card = sw + "/0000:08:01.0/0000:09:00.0";
            pciFunction(card, kPciVendorId, kPciDeviceId, kPciSubsystemVendorId, kPciSubsystemId);
            adapter(sys, card, "i2c-5", "AUX USBC1/DDI TC1/PHY TC1");
            adapter(sys, card, "i2c-6", "DPDDC-B");
            adapter(sys, card + "/i2c_designware.2", "i2c-9", kDw);
            // A second card of ours at a later address got the lower adapter number.
            const QString second = pci + "/0000:00:1d.0/0000:0c:00.0";
            pciFunction(second, kPciVendorId, kPciDeviceId, kPciSubsystemVendorId, kPciSubsystemId);
            adapter(sys, second + "/i2c_designware.1", "i2c-7", kDw);
        }
    }

    void onlyTheKnownCardsControllerIsOpened_data()
    {
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("node"); // empty: nothing may be opened
        const QString machine = machine_.path(), foreign = foreign_.path();
        QTest::newRow("first card") << machine << "NF_I2C_BUS_00_0X0060" << "i2c-9";
        QTest::newRow("second card") << machine << "NF_I2C_BUS_01_0X0060" << "i2c-7";
        QTest::newRow("no third") << machine << "NF_I2C_BUS_02_0X0060" << "";
        QTest::newRow("other address") << machine << "NF_I2C_BUS_00_0X0050" << "";
        QTest::newRow("not 7-bit") << machine << "NF_I2C_BUS_00_0X0080" << "";
        QTest::newRow("trailing") << machine << "NF_I2C_BUS_00_0X0060X" << "";
        QTest::newRow("only another maker") << foreign << "NF_I2C_BUS_00_0X0060" << "";
        QTest::newRow("no sysfs") << machine + "/none" << "NF_I2C_BUS_00_0X0060" << "";
    }
    void onlyTheKnownCardsControllerIsOpened()
    {
        QFETCH(QString, root);
        QFETCH(QString, name);
        QFETCH(QString, node);
        auto fake = std::make_shared<FakeSystem>();
        std::uint32_t error = 99;
        auto device = open(fake, &error, root, name.toLatin1().constData());
        if (node.isEmpty()) {
            QVERIFY(!device);
            QCOMPARE(error, 2u);
            QVERIFY(fake->opened.isEmpty());
            return;
        }
        QVERIFY(device);
        QCOMPARE(fake->opened, QStringList{root + "/dev/" + node});
        // Set once, and short enough that a retry still ends inside 500 ms.
        QCOMPARE(fake->timeouts.size(), 1);
        QVERIFY(fake->timeouts[0] > 0 && 2 * fake->timeouts[0] <= 500);
    }

    void openErrorsAreMapped_data()
    {
        QTest::addColumn<int>("openResult");
        QTest::addColumn<int>("lockResult");
        QTest::addColumn<int>("timeoutResult");
        QTest::addColumn<uint>("error");
        QTest::newRow("i2c-dev not loaded") << -ENOENT << 0 << 0 << 2u;
        QTest::newRow("no udev rule") << -EACCES << 0 << 0 << 5u;
        QTest::newRow("held by another") << 43 << -EWOULDBLOCK << 0 << 32u;
        QTest::newRow("no time-out") << 43 << 0 << -ENOTTY << 50u;
    }
    void openErrorsAreMapped()
    {
        auto fake = std::make_shared<FakeSystem>();
        QFETCH(int, openResult);
        fake->openResult = openResult;
        QFETCH(int, lockResult);
        fake->lockResult = lockResult;
        QFETCH(int, timeoutResult);
        fake->timeoutResult = timeoutResult;
        std::uint32_t error = 0;
        QVERIFY(!open(fake, &error, machine_.path()));
        QTEST(uint(error), "error");
        QCOMPARE(fake->closed, openResult >= 0);
        QVERIFY(fake->sent.isEmpty());
    }

    void requestsOnTheBus_data()
    {
        QTest::addColumn<uint>("code"); // 0: write, 1: read
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<uint>("outLength");
        QTest::addColumn<QByteArray>("wire"); // empty: nothing sent
        QTest::addColumn<uint>("error");
        QTest::addColumn<uint>("transferred");
        const auto seq = le32s({60, 2, 1, 0, 0, 1, 2, 0, 2, 2, 1, 0, 2, 2, 3});
        QByteArray sequence(reinterpret_cast<const char *>(seq.data()), int(seq.size()));
        sequence += "\x01\x02";
        QByteArray delayed = sequence;
        delayed[20 + 16 + 8] = 50;
        const QByteArray target0("\0\0\0\0", 4), target1("\1\0\0\0", 4);
        QTest::newRow("write") << 0u << QByteArray("\x00\xE0\x21", 3) << 0u << QByteArray("w60:00e021") << 0u << 3u;
        QTest::newRow("read") << 1u << QByteArray() << 3u << QByteArray("r60:3") << 0u << 3u;
        QTest::newRow("writeread") << kIoctlWriteRead << QByteArray("\x82") << 2u << QByteArray("w60:82 r60:2") << 0u << 2u;
        QTest::newRow("sequence") << kIoctlSequence << sequence << 6u << QByteArray("w60:0102 r60:2 r60:3") << 0u << 5u;
        QTest::newRow("sequence, output short") << kIoctlSequence << sequence << 4u << QByteArray() << 122u << 0u;
        QTest::newRow("sequence, data missing") << kIoctlSequence << sequence.left(sequence.size() - 1) << 6u << QByteArray() << 87u << 0u;
        QTest::newRow("sequence with a delay") << kIoctlSequence << delayed << 6u << QByteArray() << 50u << 0u;
        QTest::newRow("writeread without input") << kIoctlWriteRead << QByteArray() << 2u << QByteArray() << 87u << 0u;
        QTest::newRow("open target 0") << kIoctlOpenTarget << target0 << 0u << QByteArray() << 0u << 0u;
        QTest::newRow("open target 1") << kIoctlOpenTarget << target1 << 0u << QByteArray() << 87u << 0u;
        QTest::newRow("lock") << kIoctlLockBus << QByteArray() << 0u << QByteArray() << 0u << 0u;
        QTest::newRow("gpio") << kIoctlGpio << QByteArray(8, '\0') << 8u << QByteArray() << 50u << 0u;
        QTest::newRow("pdi") << kIoctlPdInterrupt << QByteArray() << 1u << QByteArray() << 50u << 0u;
        QTest::newRow("unknown code") << controlCode(0x7FF) << QByteArray() << 0u << QByteArray() << 1u << 0u;
    }
    void requestsOnTheBus()
    {
        QFETCH(uint, code);
        QFETCH(QByteArray, input);
        QFETCH(uint, outLength);
        auto fake = std::make_shared<FakeSystem>();
        auto device = openCard(fake);
        QVERIFY(device);
        Event event(true);
        Overlapped ov;
        ov.event = &event;
        std::uint32_t n = 77;
        QByteArray out(int(outLength) + 1, '\x11');
        bool ok;
        if (code == 0)
            ok = device->write(input.constData(), uint(input.size()), &n, ov);
        else if (code == 1)
            ok = device->read(out.data(), outLength, &n, ov);
        else
            ok = device->ioControl(code, input.constData(), uint(input.size()), out.data(),
                                   outLength, &n, ov);
        ok = finish(*device, ok, ov, &n);
        QFETCH(uint, error);
        QCOMPARE(ok, error == 0);
        QCOMPARE(ov.internal.load(), hresultFromWin32(error));
        QCOMPARE(event.wait(0), kWaitObject0);
        QTEST(uint(n), "transferred");
        QCOMPARE(out.at(int(outLength)), '\x11'); // nothing past the buffer
        QFETCH(QByteArray, wire);
        QCOMPARE(fake->sent.value(0), wire);
        QCOMPARE(fake->sent.size(), wire.isEmpty() ? 0 : 1);
    }

    void busFailures_data()
    {
        QTest::addColumn<int>("err");
        QTest::addColumn<uint>("code");
        QTest::newRow("no acknowledge") << EREMOTEIO << 31u;
        QTest::newRow("nobody at the address") << ENXIO << 1167u;
        QTest::newRow("arbitration lost") << EAGAIN << 170u;
        QTest::newRow("adapter time-out") << ETIMEDOUT << 121u;
    }
    void busFailures()
    {
        QFETCH(int, err);
        QFETCH(uint, code);
        auto fake = std::make_shared<FakeSystem>();
        auto device = openCard(fake);
        QVERIFY(device);
        fake->transferResult = -err;
        std::uint32_t n = 0;
        Overlapped ov;
        const std::uint8_t reg = 0x82;
        std::uint8_t out[2];
        QVERIFY(!finish(*device, device->ioControl(kIoctlWriteRead, &reg, 1, out, 2, &n, ov), ov, &n));
        QCOMPARE(lastError(), code);
        QCOMPARE(ov.internal.load(), hresultFromWin32(code));
        QCOMPARE(n, 0u);

        // A write the adapter gave up on (after its own time-out, taking its
        // time) stays pending, like one the driver never finishes, until it
        // is cancelled; any other failure is final.
        fake->transferDelayMs = 150;
        Event event(true);
        ov.event = &event;
        QVERIFY(!device->write(&reg, 1, &n, ov));
        QCOMPARE(lastError(), kErrorIoPending);
        const bool stalls = err == ETIMEDOUT;
        QCOMPARE(event.wait(400), stalls ? kWaitTimeout : kWaitObject0);
        QCOMPARE(device->overlappedResult(ov, &n, false), false);
        QCOMPARE(lastError(), stalls ? kErrorIoPending : code);
        QVERIFY(device->cancelIo());
        QCOMPARE(event.wait(0), kWaitObject0);
        QVERIFY(!device->overlappedResult(ov, &n, true));
        QCOMPARE(lastError(), stalls ? kErrorOperationAborted : code);
        QCOMPARE(fake->sent.size(), 2);
    }

    void malformedDescriptorsAreRejected_data()
    {
        QTest::addColumn<QByteArray>("input");
        auto bytes = [](const std::vector<std::uint8_t> &v) {
            return QByteArray(reinterpret_cast<const char *>(v.data()), int(v.size()));
        };
        QTest::newRow("short header") << bytes(le32s({20, 1}));
        QTest::newRow("no entries") << bytes(le32s({20, 0, 0, 0, 0}));
        QTest::newRow("size mismatch") << bytes(le32s({40, 1, 0, 0, 0, 1, 1, 0, 2}));
        QTest::newRow("bad format") << bytes(le32s({36, 1, 0, 0, 0, 3, 1, 0, 2}));
        QTest::newRow("bad direction") << bytes(le32s({36, 1, 0, 0, 0, 1, 3, 0, 2}));
        QTest::newRow("empty list") << bytes(le32s({36, 1, 1, 0, 0, 2, 1, 0, 0}));
        QTest::newRow("list runs off") << bytes(le32s({40, 1, 1, 0, 0, 2, 1, 0, 5, 1}));
        QTest::newRow("huge count") << bytes(le32s({36, 0xFFFFFFFF, 0, 0, 0, 1, 1, 0, 2}));
    }
    void malformedDescriptorsAreRejected()
    {
        QFETCH(QByteArray, input);
        QVERIFY(!decodeSequence(reinterpret_cast<const std::uint8_t *>(input.constData()),
                                std::size_t(input.size())));
    }
};

QTEST_GUILESS_MAIN(TestI2cDev)
#include "tst_i2c_dev.moc"
