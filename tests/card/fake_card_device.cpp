#include "tests/card/fake_card_device.h"

#include <cstring>

namespace cardtest {
namespace {

constexpr std::uint32_t kOpenTargetCode = 0x04001C00;
constexpr std::uint32_t kWriteReadCode = 0x04001C10;

class FakeDevice final : public platform::Device {
public:
    explicit FakeDevice(std::shared_ptr<FakeCard> card) : card_(std::move(card))
    {
        ++card_->devicesOpen;
    }
    ~FakeDevice() override
    {
        --card_->devicesOpen;
        card_->journal << QStringLiteral("CLOSE");
    }

    bool write(const void *data, std::uint32_t length, std::uint32_t *transferred,
               platform::Overlapped &ov) override
    {
        const QByteArray bytes(static_cast<const char *>(data), int(length));
        return finish(QStringLiteral("W ") + hexBytes(bytes), length, transferred, ov);
    }

    bool read(void *, std::uint32_t, std::uint32_t *transferred,
              platform::Overlapped &ov) override
    {
        return finish(QStringLiteral("R"), 0, transferred, ov);
    }

    bool ioControl(std::uint32_t code, const void *in, std::uint32_t inLength, void *out,
                   std::uint32_t outLength, std::uint32_t *transferred,
                   platform::Overlapped &ov) override
    {
        const QByteArray input(static_cast<const char *>(in), int(inLength));
        if (code == kOpenTargetCode) {
            std::uint32_t index = 0;
            if (inLength >= sizeof index)
                std::memcpy(&index, in, sizeof index);
            return finish(QStringLiteral("OPEN %1").arg(index), 0, transferred, ov);
        }
        if (code == kWriteReadCode && !input.isEmpty()) {
            const quint8 reg = quint8(input.at(0));
            QByteArray reply = card_->replies.value(reg, QByteArray(int(outLength), '\0'));
            reply.truncate(int(outLength));
            const QString line = QStringLiteral("WR ") + hexBytes(input) + QStringLiteral(" ->")
                + (reply.isEmpty() ? QString() : QStringLiteral(" ") + hexBytes(reply));
            if (failing(line))
                return finish(line, 0, transferred, ov);
            if (!reply.isEmpty())
                std::memcpy(out, reply.constData(), size_t(reply.size()));
            return finish(line, std::uint32_t(reply.size()), transferred, ov);
        }
        return finish(QStringLiteral("IOCTL %1").arg(code, 8, 16, QLatin1Char('0')), 0,
                      transferred, ov);
    }

    bool cancelIo() override { return true; }

    bool overlappedResult(platform::Overlapped &ov, std::uint32_t *transferred, bool) override
    {
        const std::uint32_t status = ov.internal.load();
        *transferred = std::uint32_t(ov.internalHigh.load());
        if (status == 0)
            return true;
        platform::setLastError((status & 0xFFFF0000u) == 0x80070000u ? status & 0xFFFFu : status);
        return false;
    }

private:
    bool failing(const QString &line) const
    {
        return !card_->failPrefix.isEmpty() && line.startsWith(card_->failPrefix);
    }

    // Every request finishes at once, successfully or with the chosen error.
    bool finish(const QString &line, std::uint32_t count, std::uint32_t *transferred,
                platform::Overlapped &ov)
    {
        card_->journal << line;
        if (failing(line)) {
            ov.internal = platform::hresultFromWin32(card_->failError);
            ov.internalHigh = 0;
            if (transferred)
                *transferred = 0;
            platform::setLastError(card_->failError);
            return false;
        }
        ov.internal = 0;
        ov.internalHigh = count;
        if (transferred)
            *transferred = count;
        if (ov.event)
            ov.event->set();
        return true;
    }

    std::shared_ptr<FakeCard> card_;
};

} // namespace

FakeCardInstaller::FakeCardInstaller(std::shared_ptr<FakeCard> card)
{
    platform::setDeviceFactoryForTesting(
        [card](const std::string &, std::uint32_t *error) -> std::unique_ptr<platform::Device> {
            if (card->openError != 0) {
                if (error)
                    *error = card->openError;
                platform::setLastError(card->openError);
                return nullptr;
            }
            return std::make_unique<FakeDevice>(card);
        });
}

FakeCardInstaller::~FakeCardInstaller() { platform::setDeviceFactoryForTesting({}); }

QString hexBytes(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString repeatedTriple(const QString &triple, int n)
{
    QStringList parts;
    for (int i = 0; i < n; ++i)
        parts << triple;
    return parts.join(QLatin1Char(' '));
}

} // namespace cardtest
