// Device name resolution: endpoint socket, then the card's I2C adapter.

#include "platform/device_base.h"
#include "platform/i2c_dev.h"
#include "platform/overlapped.h"
#include "platform/socket_device.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::mutex g_factoryMutex;
DeviceFactory g_factory;

const std::string kDevicePrefix = "\\\\.\\";

// A name is looked up as a file in the runtime directory, so it must stay a
// single plain component there.
bool isSafeName(const std::string &name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    for (char c : name) {
        if (c == '/' || c == '\\' || c == '\0')
            return false;
    }
    return true;
}

std::unique_ptr<Device> fail(std::uint32_t code, std::uint32_t *error)
{
    if (error)
        *error = code;
    setLastError(code);
    return nullptr;
}

} // namespace

void setDeviceFactoryForTesting(DeviceFactory factory)
{
    std::lock_guard<std::mutex> lock(g_factoryMutex);
    g_factory = std::move(factory);
}

std::string runtimeDirectory()
{
    const char *xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg && xdg[0] == '/')
        return xdg;

    const uid_t uid = ::geteuid();
    const std::string dir = "/tmp/tarvell-vorn-" + std::to_string(uid);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    // Someone else may have put something there first: only a real folder of
    // ours, closed to everybody else, will do.
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != uid)
        return {};
    if ((st.st_mode & 077) != 0 && ::chmod(dir.c_str(), 0700) != 0)
        return {};
    return dir;
}

std::unique_ptr<Device> openDevice(const std::string &path, std::uint32_t *error)
{
    DeviceFactory factory;
    {
        std::lock_guard<std::mutex> lock(g_factoryMutex);
        factory = g_factory;
    }
    if (factory) {
        std::uint32_t code = kErrorFileNotFound;
        auto device = factory(path, &code);
        if (!device)
            return fail(code == 0 ? kErrorFileNotFound : code, error);
        if (error)
            *error = 0;
        return device;
    }

    if (path.compare(0, kDevicePrefix.size(), kDevicePrefix) != 0)
        return fail(kErrorFileNotFound, error);
    const std::string name = path.substr(kDevicePrefix.size());
    if (!isSafeName(name))
        return fail(kErrorInvalidName, error);

    const std::string dir = runtimeDirectory();
    if (!dir.empty()) {
        const std::string socketPath = dir + "/" + name;
        struct stat st {};
        if (::lstat(socketPath.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) {
            std::uint32_t code = 0;
            bool served = false;
            auto device = connectEndpoint(socketPath, &code, &served);
            if (device) {
                if (error)
                    *error = 0;
                return device;
            }
            if (served)
                return fail(code, error);
        }
    }

    if (parseI2cDeviceName(name)) {
        std::uint32_t code = kErrorFileNotFound;
        auto device = openI2cCard(name, realI2cSystem(), &code);
        if (device) {
            if (error)
                *error = 0;
            return device;
        }
        return fail(code, error);
    }
    return fail(kErrorFileNotFound, error);
}

} // namespace platform
