// The i2c-dev backend through its system seam, on a made-up sysfs tree.

#include "platform/control_codes.h"
#include "platform/i2c_dev.h"
#include "platform/overlapped.h"
#include "platform/sequence_descriptor.h"

#include <QtTest>

#include <cerrno>

using namespace platform;

namespace {

struct SentMessage {
    unsigned address;
    unsigned flags;
    QByteArray bytes; // written bytes, or as many zeros as were to be read
};

class FakeSystem : public I2cSystem {
public:
    QString root;
    QStringList opened;
    QList<int> closed;
    QList<QList<SentMessage>> transfers;
    int openResult = 42;
    int lockResult = 0;
    int transferResult = 0;
    QByteArray readFill = QByteArray("\x34\x12\x56\x78\x9A", 5);

    std::string sysfsRoot() const override { return (root + "/sys").toStdString(); }
    std::string devRoot() const override { return (root + "/dev").toStdString(); }
    int open(const std::string &path) override
    {
        opened << QString::fromStdString(path);
        return openResult;
    }
    int lock(int) override { return lockResult; }
    int transfer(int, i2c_msg *messages, unsigned count) override
    {
        QList<SentMessage> sent;
        int fill = 0;
        for (unsigned i = 0; i < count; ++i) {
            const i2c_msg &m = messages[i];
            SentMessage s{m.addr, m.flags, {}};
            if (m.flags & I2C_M_RD) {
                s.bytes = QByteArray(m.len, '\0');
                if (transferResult == 0)
                    for (int k = 0; k < m.len; ++k)
                        m.buf[k] = static_cast<std::uint8_t>(readFill.at(fill++ % readFill.size()));
            } else {
                s.bytes = QByteArray(reinterpret_cast<const char *>(m.buf), m.len);
            }
            sent << s;
        }
        transfers << sent;
        return transferResult;
    }
    void close(int fd) override { closed << fd; }
};

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
}

void pciDevice(const QString &dir, const char *vendor, const char *device)
{
    writeFile(dir + "/vendor", QByteArray(vendor) + "\n");
    writeFile(dir + "/device", QByteArray(device) + "\n");
}

// An adapter folder with its name, linked from the class folder.
void adapter(const QString &sys, const QString &parent, const QString &node, const char *name,
             const QString &classFolder = "class/i2c-adapter")
{
    const QString dir = parent + "/" + node;
    writeFile(dir + "/name", QByteArray(name) + "\n");
    QDir().mkpath(sys + "/" + classFolder);
    QVERIFY(QFile::link(dir, sys + "/" + classFolder + "/" + node));
}

constexpr char kDw[] = "Synopsys DesignWare I2C adapter";

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

    QTemporaryDir tree_;
    QString sys_;

    std::unique_ptr<Device> open(std::shared_ptr<FakeSystem> fake, std::uint32_t *error,
                                 const std::string &name = "NF_I2C_BUS_00_0X0060")
    {
        fake->root = tree_.path();
        return openI2cCard(name, fake, error);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(tree_.isValid());
        sys_ = tree_.path() + "/sys";
        const QString pci = sys_ + "/devices/pci0000:00";
        const QString gpu = pci + "/0000:00:01.0/0000:01:00.0/0000:02:01.0/0000:03:00.0";
        pciDevice(pci + "/0000:00:01.0/0000:01:00.0", "0x8086", "0xe2ff"); // on-card switch
        pciDevice(gpu, "0x8086", "0xe20b");
        adapter(sys_, gpu + "/i2c_designware.769", "i2c-9", kDw);
        adapter(sys_, gpu + "/i2c_designware.768", "i2c-7", kDw);
        adapter(sys_, gpu, "i2c-2", "GPU display bus");
        // The same controller on another Arc card, and one on the mainboard.
        const QString other = pci + "/0000:00:02.0";
        pciDevice(other, "0x8086", "0x56a5");
        adapter(sys_, other + "/i2c_designware.0", "i2c-3", kDw);
        adapter(sys_, sys_ + "/devices/platform/i2c_designware.5", "i2c-1", kDw);
        // An adapter whose only PCI ancestor is the card's switch, not the GPU.
        adapter(sys_, pci + "/0000:00:01.0/0000:01:00.0/i2c_designware.4", "i2c-4", kDw);
    }

    void deviceNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<uint>("bus");
        QTest::addColumn<uint>("address");
        QTest::newRow("card") << "NF_I2C_BUS_00_0X0060" << true << 0u << 0x60u;
        QTest::newRow("lower case") << "nf_i2c_bus_01_0x0050" << true << 1u << 0x50u;
        QTest::newRow("not 7-bit") << "NF_I2C_BUS_00_0X0080" << false << 0u << 0u;
        QTest::newRow("trailing") << "NF_I2C_BUS_00_0X0060X" << false << 0u << 0u;
        QTest::newRow("no address") << "NF_I2C_BUS_00_0X" << false << 0u << 0u;
        QTest::newRow("no bus") << "NF_I2C_BUS__0X0060" << false << 0u << 0u;
        QTest::newRow("other") << "SPB_" << false << 0u << 0u;
    }
    void deviceNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, valid);
        const auto parsed = parseI2cDeviceName(name.toStdString());
        QCOMPARE(bool(parsed), valid);
        if (valid) {
            QTEST(parsed->bus, "bus");
            QTEST(parsed->address, "address");
        }
    }

    void findsOnlyTheCardsControllers()
    {
        const std::string root = sys_.toStdString();
        QCOMPARE(QString::fromStdString(findCardAdapter(root, 0)), QStringLiteral("i2c-7"));
        QCOMPARE(QString::fromStdString(findCardAdapter(root, 1)), QStringLiteral("i2c-9"));
        QCOMPARE(QString::fromStdString(findCardAdapter(root, 2)), QString());
        QCOMPARE(QString::fromStdString(findCardAdapter(tree_.path().toStdString() + "/none", 0)),
                 QString());
    }

    void findsThroughTheBusFolderToo()
    {
        QTemporaryDir other;
        const QString sys = other.path() + "/sys";
        const QString gpu = sys + "/devices/pci0000:00/0000:03:00.0";
        pciDevice(gpu, "0x8086", "0xe20b");
        adapter(sys, gpu + "/i2c_designware.1", "i2c-12", kDw, "bus/i2c/devices");
        QCOMPARE(QString::fromStdString(findCardAdapter(sys.toStdString(), 0)),
                 QStringLiteral("i2c-12"));
    }

    void openUsesTheAdapterNodeAndMapsErrors()
    {
        auto fake = std::make_shared<FakeSystem>();
        std::uint32_t error = 99;
        auto device = open(fake, &error);
        QVERIFY(device);
        QCOMPARE(error, 0u);
        QCOMPARE(fake->opened, QStringList{tree_.path() + "/dev/i2c-7"});
        device.reset();
        QCOMPARE(fake->closed, QList<int>{42});

        fake->opened.clear();
        QVERIFY(!open(fake, &error, "NF_I2C_BUS_02_0X0060"));
        QCOMPARE(error, 2u);
        QVERIFY(fake->opened.isEmpty());

        fake->openResult = -ENOENT; // i2c-dev not loaded
        QVERIFY(!open(fake, &error));
        QCOMPARE(error, 2u);
        fake->openResult = -EACCES; // no udev rule for this user
        QVERIFY(!open(fake, &error));
        QCOMPARE(error, 5u);

        fake->openResult = 43;
        fake->closed.clear();
        fake->lockResult = -EWOULDBLOCK; // another handle holds it
        QVERIFY(!open(fake, &error));
        QCOMPARE(error, kErrorSharingViolation);
        QCOMPARE(fake->closed, QList<int>{43});
    }

    void transfersGoOutAsCombinedMessages()
    {
        auto fake = std::make_shared<FakeSystem>();
        std::uint32_t error = 0;
        auto device = open(fake, &error);
        QVERIFY(device);

        Event event(true);
        Overlapped ov;
        ov.event = &event;
        std::uint32_t n = 0;
        const std::uint8_t write[] = {0x00, 0xE0, 0x21};
        QVERIFY(device->write(write, 3, &n, ov));
        QCOMPARE(n, 3u);
        QCOMPARE(event.wait(0), kWaitObject0);
        QCOMPARE(ov.internalHigh.load(), 3u);

        const std::uint8_t reg = 0x82;
        std::uint8_t out[2] = {};
        QVERIFY(device->ioControl(kIoctlWriteRead, &reg, 1, out, 2, &n, ov));
        QCOMPARE(n, 2u);
        QCOMPARE(out[0], std::uint8_t(0x34));
        QCOMPARE(out[1], std::uint8_t(0x12));

        std::uint8_t in[3] = {};
        QVERIFY(device->read(in, 3, &n, ov));
        QCOMPARE(n, 3u);

        QCOMPARE(fake->transfers.size(), 3);
        const auto &w = fake->transfers[0];
        QCOMPARE(w.size(), 1);
        QCOMPARE(w[0].address, 0x60u);
        QCOMPARE(w[0].flags, 0u);
        QCOMPARE(w[0].bytes, QByteArray("\x00\xE0\x21", 3));
        const auto &wr = fake->transfers[1];
        QCOMPARE(wr.size(), 2);
        QCOMPARE(wr[0].bytes, QByteArray("\x82", 1));
        QCOMPARE(wr[0].flags, 0u);
        QCOMPARE(wr[1].flags, unsigned(I2C_M_RD));
        QCOMPARE(wr[1].bytes.size(), 2);
        QCOMPARE(wr[1].address, 0x60u);
        QCOMPARE(fake->transfers[2][0].flags, unsigned(I2C_M_RD));
        QCOMPARE(fake->transfers[2][0].bytes.size(), 3);
    }

    void busErrorsBecomeWindowsErrors_data()
    {
        QTest::addColumn<int>("err");
        QTest::addColumn<quint32>("code");
        QTest::newRow("no acknowledge") << EREMOTEIO << 31u;
        QTest::newRow("nobody at the address") << ENXIO << 1167u;
        QTest::newRow("bus timeout") << ETIMEDOUT << 121u;
        QTest::newRow("arbitration lost") << EAGAIN << 170u;
    }
    void busErrorsBecomeWindowsErrors()
    {
        QFETCH(int, err);
        QFETCH(quint32, code);
        auto fake = std::make_shared<FakeSystem>();
        std::uint32_t error = 0;
        auto device = open(fake, &error);
        QVERIFY(device);
        fake->transferResult = -err;

        Overlapped ov;
        std::uint32_t n = 77;
        const std::uint8_t reg = 0x82;
        std::uint8_t out[2] = {0xAA, 0xAA};
        QVERIFY(!device->ioControl(kIoctlWriteRead, &reg, 1, out, 2, &n, ov));
        QCOMPARE(lastError(), code);
        QCOMPARE(n, 0u);
        QCOMPARE(ov.internal.load(), hresultFromWin32(code));
        std::uint32_t result = 0;
        QVERIFY(!device->overlappedResult(ov, &result, true));
        QCOMPARE(lastError(), code);
    }

    void controlRequestsWithoutBusTraffic()
    {
        auto fake = std::make_shared<FakeSystem>();
        std::uint32_t error = 0;
        auto device = open(fake, &error);
        QVERIFY(device);
        Overlapped ov;
        std::uint32_t n = 0;
        const auto zero = le32s({0});
        const auto one = le32s({1});
        QVERIFY(device->ioControl(kIoctlOpenTarget, zero.data(), 4, nullptr, 0, &n, ov));
        QVERIFY(!device->ioControl(kIoctlOpenTarget, one.data(), 4, nullptr, 0, &n, ov));
        QCOMPARE(lastError(), kErrorInvalidParameter);
        QVERIFY(!device->ioControl(kIoctlOpenTarget, zero.data(), 2, nullptr, 0, &n, ov));
        for (std::uint32_t code : {kIoctlCloseTarget, kIoctlLockBus, kIoctlUnlockBus,
                                   kIoctlLockConnection, kIoctlUnlockConnection})
            QVERIFY(device->ioControl(code, nullptr, 0, nullptr, 0, &n, ov));
        std::uint8_t gpio[8] = {};
        for (std::uint32_t code : {kIoctlGpio, kIoctlEnableInterrupt, kIoctlDisableInterrupt,
                                   kIoctlSignalInterrupt, kIoctlPdInterrupt}) {
            QVERIFY(!device->ioControl(code, gpio, 8, gpio, 8, &n, ov));
            QCOMPARE(lastError(), kErrorNotSupported);
            QCOMPARE(ov.internal.load(), hresultFromWin32(kErrorNotSupported));
        }
        QVERIFY(!device->ioControl(controlCode(0x7FF), nullptr, 0, nullptr, 0, &n, ov));
        QCOMPARE(lastError(), 1u);
        QVERIFY(fake->transfers.isEmpty());
    }

    void sequencesBecomeOneTransfer()
    {
        auto fake = std::make_shared<FakeSystem>();
        std::uint32_t error = 0;
        auto device = open(fake, &error);
        QVERIFY(device);
        // -s {01 02}, -b 2 3: descriptor 20 + 2*16 + 2*4 = 60 bytes, then the writes.
        std::vector<std::uint8_t> in = le32s({60, 2, 1, 0, 0, 1, 2, 0, 2, 2, 1, 0, 2, 2, 3});
        in.push_back(0x01);
        in.push_back(0x02);
        std::uint8_t out[6] = {};
        Overlapped ov;
        std::uint32_t n = 0;
        QVERIFY(device->ioControl(kIoctlSequence, in.data(), std::uint32_t(in.size()), out, 6,
                                  &n, ov));
        QCOMPARE(n, 5u);
        QCOMPARE(fake->transfers.size(), 1);
        const auto &m = fake->transfers[0];
        QCOMPARE(m.size(), 3);
        QCOMPARE(m[0].bytes, QByteArray("\x01\x02", 2));
        QCOMPARE(m[1].flags, unsigned(I2C_M_RD));
        QCOMPARE(m[1].bytes.size(), 2);
        QCOMPARE(m[2].bytes.size(), 3);
        QCOMPARE(out[4], std::uint8_t(0x9A));

        // Output too small for the reads.
        QVERIFY(!device->ioControl(kIoctlSequence, in.data(), std::uint32_t(in.size()), out, 4,
                                   &n, ov));
        QCOMPARE(lastError(), kErrorInsufficientBuffer);
        // Write data missing.
        QVERIFY(!device->ioControl(kIoctlSequence, in.data(), std::uint32_t(in.size() - 1), out,
                                   6, &n, ov));
        QCOMPARE(lastError(), kErrorInvalidParameter);
        // A delay cannot be kept inside one combined transfer.
        auto delayed = in;
        delayed[20 + 16 + 8] = 50;
        QVERIFY(!device->ioControl(kIoctlSequence, delayed.data(),
                                   std::uint32_t(delayed.size()), out, 6, &n, ov));
        QCOMPARE(lastError(), kErrorNotSupported);
        QCOMPARE(fake->transfers.size(), 1);
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
