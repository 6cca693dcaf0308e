#pragma once
// Collects what the code under test writes to a standard stream.

#include <QString>

#include <iostream>
#include <sstream>

class StreamCapture {
public:
    explicit StreamCapture(std::ostream &stream) : target(stream), old(stream.rdbuf(buffer.rdbuf())) {}
    ~StreamCapture() { target.rdbuf(old); }
    StreamCapture(const StreamCapture &) = delete;
    StreamCapture &operator=(const StreamCapture &) = delete;

    QString text() const { return QString::fromStdString(buffer.str()); }

private:
    std::ostream &target;
    std::ostringstream buffer;
    std::streambuf *old;
};
