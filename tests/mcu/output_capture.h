#pragma once
// Collects what the command interpreter prints while it is alive.

#include "mcu/output.h"

#include <QtTest>

#include <string>
#include <utility>

class OutputCapture {
public:
    OutputCapture() : previous_(mcu::SetOutputSink([this](const std::string &text) { text_ += text; })) {}
    ~OutputCapture() { mcu::SetOutputSink(std::move(previous_)); }
    OutputCapture(const OutputCapture &) = delete;
    OutputCapture &operator=(const OutputCapture &) = delete;

    // Everything printed since the last take.
    std::string take() { return std::exchange(text_, std::string()); }

private:
    std::string text_;
    mcu::OutputSink previous_;
};

namespace QTest {
// Lets QCOMPARE show captured text when it differs.
template <>
inline char *toString(const std::string &text)
{
    return QTest::toString(QByteArray::fromStdString(text));
}
} // namespace QTest
