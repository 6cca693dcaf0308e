// The i2c-dev backend through its system seam, on a made-up sysfs tree.

#include "platform/control_codes.h"
#include "platform/i2c_dev.h"
#include "platform/known_card.h"
#include "platform/sequence_descriptor.h"
#include "tests/common/files.h"

#include <QtTest>

#include <cerrno>
#include <thread>

using namespace platform;
using namespace known_card;

namespace {

class FakeSystem : public I2cSystem {
public:
    QString root;
    QStringList opened;
    QList<unsigned> timeouts;
    QList<QByteArray> sent; // per transfer: "w<addr>:<hex>" / "r<addr>:<len>" joined by blanks
    int transferResult = 0, transferDelayMs = 0;

    std::string sysfsRoot() const override { return (root + "/sys").toStdString(); }
    std::string devRoot() const override { return (root + "/dev").toStdString(); }
    int open(const std::string &path) override { return opened << QString::fromStdString(path), 42; }
    int lock(int) override { return 0; }
    int setTimeout(int, unsigned ms) override { return timeouts << ms, 0; }
    int transfer(int, i2c_msg *messages, unsigned count) override
    {
        QByteArrayList parts;
        for (i2c_msg *m = messages; m != messages + count; ++m) {
            const QByteArray head = (m->flags & I2C_M_RD ? "r" : "w") + QByteArray::number(m->addr, 16) + ":";
            for (int k = 0; (m->flags & I2C_M_RD) && k < m->len; ++k)
                m->buf[k] = std::uint8_t(0x30 + k);
            parts << head + (m->flags & I2C_M_RD ? QByteArray::number(m->len)
                                                 : QByteArray(reinterpret_cast<char *>(m->buf), m->len).toHex());
        }
        sent << parts.join(' ');
        std::this_thread::sleep_for(std::chrono::milliseconds(transferDelayMs));
        return transferResult;
    }
    void close(int) override {}
};

void pciFunction(const QString &dir, std::initializer_list<unsigned> ids)
{
    auto id = ids.begin();
    for (const char *name : {"vendor", "device", "subsystem_vendor", "subsystem_device"})
        QVERIFY(writeFile(dir + "/" + name, "0x" + QByteArray::number(*id++, 16).rightJustified(4, '0') + '\n'));
}

void adapter(const QString &sys, const QString &parent, const QString &node, const char *name)
{
    QVERIFY(writeFile(parent + "/" + node + "/name", QByteArray(name) + '\n'));
    QDir().mkpath(sys + "/class/i2c-adapter");
    QVERIFY(QFile::link(parent + "/" + node, sys + "/class/i2c-adapter/" + node));
}

QByteArray le32s(std::initializer_list<std::uint32_t> values)
{
    QByteArray out;
    for (std::uint32_t v : values)
        for (int i = 0; i < 4; ++i)
            out += char(v >> (8 * i));
    return out;
}

constexpr char kDw[] = "Synopsys DesignWare I2C adapter";

// code 0: a write, 1: a read; wire empty: nothing may be sent.
// Not control codes: a request row with one of these is a plain write or read.
constexpr std::uint32_t kPlainWrite = 0, kPlainRead = 1;

struct Request {
    std::uint32_t code; QByteArray input; std::uint32_t outLength; QByteArray wire;
    std::uint32_t error, transferred; int transferResult = 0;
};

} // namespace

Q_DECLARE_METATYPE(Request)

class TestI2cDev : public QObject {
    Q_OBJECT

    QTemporaryDir machine_; // another maker's B580 first, two of ours, an iGPU, DDC and AUX buses
    QTemporaryDir foreign_; // only another maker's B580
    QTemporaryDir bound_;   // our card, with a kernel driver bound at 0x60 of its adapter
    QTemporaryDir odd_;     // our card where a blank turns an address or an id into another

    std::unique_ptr<Device> openCard(const std::shared_ptr<FakeSystem> &fake)
    {
        fake->root = machine_.path();
        std::uint32_t error = 99;
        auto device = openI2cCard("NF_I2C_BUS_00_0X0060", fake, &error);
        return error == 0 ? std::move(device) : nullptr;
    }

private slots:
    void initTestCase()
    {
        {
            const QString sys = bound_.path() + "/sys";
            const QString card = sys + "/devices/pci0000:00/0000:00:01.0/0000:03:00.0";
            pciFunction(card, {kPciVendorId, kPciDeviceId, kPciSubsystemVendorId, kPciSubsystemId});
            adapter(sys, card + "/i2c_designware.0", "i2c-3", kDw);
            QVERIFY(QDir().mkpath(sys + "/bus/i2c/drivers/amc") && QDir().mkpath(sys + "/bus/i2c/devices/3-0060"));
            QVERIFY(QFile::link(sys + "/bus/i2c/drivers/amc", sys + "/bus/i2c/devices/3-0060/driver"));
            // A client without a driver at another address is no reason to stay away.
            QVERIFY(QDir().mkpath(sys + "/bus/i2c/devices/3-0050"));
        }
        for (QTemporaryDir *dir : {&machine_, &foreign_}) {
            const QString sys = dir->path() + "/sys", pci = sys + "/devices/pci0000:00";
            const QString other = pci + "/0000:00:01.0/0000:03:00.0";
            pciFunction(other, {kPciVendorId, kPciDeviceId, 0x1849, 0x6025});
            adapter(sys, other + "/i2c_designware.0", "i2c-1", kDw);
            if (dir == &foreign_)
                continue;
            const QString igpu = pci + "/0000:00:02.0";
            pciFunction(igpu, {0x8086, 0xa780, 0x1043, 0x8882});
            adapter(sys, igpu, "i2c-2", kDw);
            // The card's own PCIe switch carries the maker's subsystem ids too.
            const QString sw = pci + "/0000:00:1c.0/0000:07:00.0";
            pciFunction(sw, {0x8086, 0xe2ff, kPciSubsystemVendorId, kPciSubsystemId});
            adapter(sys, sw + "/i2c_designware.4", "i2c-4", kDw);
            const QString card = sw + "/0000:08:01.0/0000:09:00.0";
            pciFunction(card, {kPciVendorId, kPciDeviceId, kPciSubsystemVendorId, kPciSubsystemId});
            adapter(sys, card, "i2c-5", "AUX USBC1/DDI TC1/PHY TC1");
            adapter(sys, card, "i2c-6", "DPDDC-B");
            adapter(sys, card + "/i2c_designware.2", "i2c-9", kDw);
            // A second card of ours at a later address got the lower adapter number.
            const QString second = pci + "/0000:00:1d.0/0000:0c:00.0";
            pciFunction(second, {kPciVendorId, kPciDeviceId, kPciSubsystemVendorId, kPciSubsystemId});
            adapter(sys, second + "/i2c_designware.1", "i2c-7", kDw);
        }
    }

    void onlyTheKnownCardsControllerIsOpened_data()
    {
        for (const char *function : {"/ 000:09:00.0", "/0000:0a:00.0"}) { // a blank before the address, before the id
            const QString dir = odd_.path() + "/sys/devices/pci0000:00" + function;
            pciFunction(dir, {kPciVendorId, kPciDeviceId, kPciSubsystemVendorId, kPciSubsystemId});
            if (function[1] == '0')
                QVERIFY(writeFile(dir + "/vendor", " 0x" + QByteArray::number(kPciVendorId, 16) + '\n'));
            adapter(odd_.path() + "/sys", dir + "/i2c_designware.2", function[1] == '0' ? "i2c-3" : "i2c-9", kDw);
        }

        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("node"); // empty: nothing may be opened
        QTest::addColumn<uint>("error");
        const QString machine = machine_.path(), foreign = foreign_.path(), bound = bound_.path();
        QTest::newRow("first card") << machine << "NF_I2C_BUS_00_0X0060" << "i2c-9" << 0u;
        QTest::newRow("second card") << machine << "NF_I2C_BUS_01_0X0060" << "i2c-7" << 0u;
        QTest::newRow("no third") << machine << "NF_I2C_BUS_02_0X0060" << "" << 2u;
        QTest::newRow("other address") << machine << "NF_I2C_BUS_00_0X0050" << "" << 2u;
        QTest::newRow("trailing") << machine << "NF_I2C_BUS_00_0X0060X" << "" << 2u;
        QTest::newRow("only another maker") << foreign << "NF_I2C_BUS_00_0X0060" << "" << 2u;
        QTest::newRow("kernel driver at 0x60") << bound << "NF_I2C_BUS_00_0X0060" << "" << 170u;
        QTest::newRow("blank before address or id") << odd_.path() << "NF_I2C_BUS_00_0X0060" << "" << 2u;
    }
    void onlyTheKnownCardsControllerIsOpened()
    {
        QFETCH(QString, root);
        QFETCH(QString, name);
        QFETCH(QString, node);
        QFETCH(uint, error);
        auto fake = std::make_shared<FakeSystem>();
        fake->root = root;
        std::uint32_t got = 99;
        auto device = openI2cCard(name.toStdString(), fake, &got);
        QCOMPARE(bool(device), !node.isEmpty());
        QCOMPARE(got, error);
        QCOMPARE(fake->opened, node.isEmpty() ? QStringList() : QStringList{root + "/dev/" + node});
        QVERIFY(fake->sent.isEmpty());
        // Set once, and short enough that a retry still ends inside 500 ms.
        if (device)
            QVERIFY(fake->timeouts.size() == 1 && fake->timeouts[0] > 0 && 2 * fake->timeouts[0] <= 500);
    }

    void requestsOnTheBus_data()
    {
        QTest::addColumn<Request>("r");
        // Writes of 1 byte each, then reads of 2 and 3.
        const QByteArray sequence = le32s({68, 2, 2, 0, 0, 2, 2, 0, 2, 1, 1, 2, 1, 0, 2, 2, 3}) + "\x01\x02";
        QTest::newRow("write") << Request{kPlainWrite, QByteArray("\x00\xE0\x21", 3), 0, "w60:00e021", 0, 3};
        QTest::newRow("read") << Request{kPlainRead, {}, 3, "r60:3", 0, 3};
        QTest::newRow("writeread") << Request{kIoctlWriteRead, "\x82", 2, "w60:82 r60:2", 0, 2};
        QTest::newRow("sequence") << Request{kIoctlSequence, sequence, 6, "w60:01 w60:02 r60:2 r60:3", 0, 5};
        QTest::newRow("sequence, output short") << Request{kIoctlSequence, sequence, 4, {}, 122, 0};
        QTest::newRow("sequence, data missing") << Request{kIoctlSequence, sequence.chopped(1), 6, {}, 87, 0};
        QTest::newRow("open target 1") << Request{kIoctlOpenTarget, QByteArray("\1\0\0\0", 4), 0, {}, 87, 0};
        QTest::newRow("unknown code") << Request{controlCode(0x7FF), {}, 0, {}, 1, 0};
        // A failed transfer ends the request with its own code.
        QTest::newRow("no acknowledge") << Request{kPlainWrite, "\x82", 0, "w60:82", 31, 0, -EREMOTEIO};
        QTest::newRow("adapter time-out") << Request{kIoctlWriteRead, "\x82", 2, "w60:82 r60:2", 121, 0, -ETIMEDOUT};
    }
    void requestsOnTheBus()
    {
        QFETCH(Request, r);
        auto fake = std::make_shared<FakeSystem>();
        auto device = openCard(fake);
        QVERIFY(device);
        fake->transferResult = r.transferResult;
        fake->transferDelayMs = r.code == kIoctlWriteRead ? 100 : 0; // goes pending, is waited out
        Event event(true);
        Overlapped ov;
        ov.event = &event;
        std::uint32_t n = 77;
        QByteArray out(int(r.outLength) + 1, '\x11');
        bool ok = r.code == kPlainWrite  ? device->write(r.input.constData(), uint(r.input.size()), &n, ov)
                  : r.code == kPlainRead ? device->read(out.data(), r.outLength, &n, ov)
                                : device->ioControl(r.code, r.input.constData(), uint(r.input.size()),
                                                    out.data(), r.outLength, &n, ov);
        // Bus transfers may go pending on a loaded machine; wait them out.
        ok = ok || (lastError() == kErrorIoPending && device->overlappedResult(ov, &n, true));
        QCOMPARE(ok, r.error == 0);
        QCOMPARE(ov.internal.load(), hresultFromWin32(r.error));
        QCOMPARE(event.wait(0), kWaitObject0);
        QCOMPARE(n, r.transferred);
        QCOMPARE(out.at(int(r.outLength)), '\x11'); // nothing past the buffer
        QCOMPARE(fake->sent, r.wire.isEmpty() ? QList<QByteArray>() : QList<QByteArray>{r.wire});
        QByteArray read; // what the bus gave, in the caller's buffer
        for (const QByteArray &m : r.wire.split(' '))
            read += m.startsWith('r') && r.error == 0 ? QByteArray("0123456789").left(m.mid(4).toInt()) : "";
        QCOMPARE(out.left(read.size()), read);
    }

    // A write the adapter gave up on (after its own time-out, taking its
    // time) stays pending, like one the driver never finishes, until it is
    // cancelled.
    void adapterTimeOutLeavesAWritePending()
    {
        auto fake = std::make_shared<FakeSystem>();
        auto device = openCard(fake);
        QVERIFY(device);
        fake->transferResult = -ETIMEDOUT;
        fake->transferDelayMs = 150;
        std::uint32_t n = 0;
        Event event(true);
        Overlapped ov;
        ov.event = &event;
        QVERIFY(!device->write("\x82", 1, &n, ov));
        QCOMPARE(lastError(), kErrorIoPending);
        QCOMPARE(event.wait(400), kWaitTimeout);
        QVERIFY(device->cancelIo());
        QCOMPARE(event.wait(0), kWaitObject0);
        QVERIFY(!device->overlappedResult(ov, &n, true));
        QCOMPARE(lastError(), kErrorOperationAborted);
        QCOMPARE(fake->sent, QList<QByteArray>{"w60:82"});
    }

    void malformedDescriptorsAreRejected()
    {
        for (const QByteArray &input :
             {le32s({20, 1}), le32s({20, 0, 0, 0, 0}), le32s({40, 1, 0, 0, 0, 1, 1, 0, 2}),
              le32s({36, 1, 0, 0, 0, 3, 1, 0, 2}), le32s({36, 1, 1, 0, 0, 2, 1, 0, 0}),
              le32s({40, 1, 1, 0, 0, 2, 1, 0, 5, 1}), le32s({36, 0xFFFFFFFF, 0, 0, 0, 1, 1, 0, 2})})
            QVERIFY2(!decodeSequence(reinterpret_cast<const std::uint8_t *>(input.constData()),
                                     std::size_t(input.size())), input.toHex().constData());
    }
};

QTEST_GUILESS_MAIN(TestI2cDev)
#include "tst_i2c_dev.moc"
