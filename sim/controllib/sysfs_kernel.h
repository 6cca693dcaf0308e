#pragma once
// The driver version the stand-in reports: the running kernel's release, whose
// in-tree xe and i915 drivers are what answers.

#include <cstdint>
#include <string>

namespace ctlsim {

// The leading numbers of a release text as four 16-bit fields, most
// significant first: "6.16.3-amd64" -> 6.16.3.0, "6.1.0-28-amd64" ->
// 6.1.0.28. Counting stops at the first part that is not a number; missing
// fields are 0 and a number above 65535 is held at 65535.
std::uint64_t driverVersionFromRelease(const std::string &release);

// uname's release of the running kernel.
std::string kernelRelease();

} // namespace ctlsim
