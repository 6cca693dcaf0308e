#include "sim/controllib/sysfs_kernel.h"

#include <sys/utsname.h>

#include <algorithm>
#include <cctype>

namespace ctlsim {

std::uint64_t driverVersionFromRelease(const std::string &release)
{
    std::uint64_t fields[4] = {0, 0, 0, 0};
    std::size_t pos = 0;
    for (int i = 0; i < 4 && pos < release.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(release[pos])))
            break;
        std::uint64_t v = 0;
        while (pos < release.size() && std::isdigit(static_cast<unsigned char>(release[pos]))) {
            v = std::min<std::uint64_t>(v * 10 + static_cast<unsigned>(release[pos] - '0'), 0xFFFF);
            ++pos;
        }
        fields[i] = v;
        if (pos < release.size() && (release[pos] == '.' || release[pos] == '-'))
            ++pos;
        else
            break;
    }
    return fields[0] << 48 | fields[1] << 32 | fields[2] << 16 | fields[3];
}

std::string kernelRelease()
{
    utsname u{};
    if (uname(&u) != 0)
        return {};
    return u.release;
}

} // namespace ctlsim
