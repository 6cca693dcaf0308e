#pragma once
// Test helpers: the stand-in library loaded by path, and small sysfs trees.

#include "gpu/ctl_api.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QtTest>

#include <dlfcn.h>

#include <vector>

namespace testing {

// libControlLib.so opened privately, so its entry points never mix with any
// other definition of the same names in the test program.
class StandIn {
public:
    StandIn() : handle(dlopen(TV_STANDIN_PATH, RTLD_NOW | RTLD_LOCAL)) {}
    ~StandIn()
    {
        if (handle)
            dlclose(handle);
    }
    StandIn(const StandIn &) = delete;
    StandIn &operator=(const StandIn &) = delete;

    bool loaded() const { return handle != nullptr; }
    void *symbol(const char *name) const { return handle ? dlsym(handle, name) : nullptr; }

    template <typename Fn>
    Fn fn(const char *name) const
    {
        return reinterpret_cast<Fn>(symbol(name));
    }

    ctl_result_t init(ctl_api_handle_t *api, uint32_t appVersion = ctlMakeVersion(1, 1)) const
    {
        ctl_init_args_t args{};
        args.Size = sizeof args;
        args.AppVersion = appVersion;
        args.flags = CTL_INIT_FLAG_STANDARD;
        return fn<pfn_ctlInit>("ctlInit")(&args, api);
    }
    ctl_result_t close(ctl_api_handle_t api) const { return fn<pfn_ctlClose>("ctlClose")(api); }

    std::vector<ctl_device_adapter_handle_t> adapters(ctl_api_handle_t api) const
    {
        const auto enumerate = fn<pfn_ctlEnumerateDevices>("ctlEnumerateDevices");
        uint32_t count = 0;
        if (enumerate(api, &count, nullptr) != CTL_RESULT_SUCCESS)
            return {};
        std::vector<ctl_device_adapter_handle_t> list(count);
        if (count && enumerate(api, &count, list.data()) != CTL_RESULT_SUCCESS)
            return {};
        list.resize(count);
        return list;
    }

    ctl_result_t properties(ctl_device_adapter_handle_t a, ctl_device_adapter_properties_t &p) const
    {
        p = {};
        p.Size = sizeof p;
        p.Version = 2;
        return fn<pfn_ctlGetDeviceProperties>("ctlGetDeviceProperties")(a, &p);
    }
    ctl_result_t telemetry(ctl_device_adapter_handle_t a, ctl_power_telemetry_t &t) const
    {
        t = {};
        t.Size = sizeof t;
        t.Version = 1;
        return fn<pfn_ctlPowerTelemetryGet>("ctlPowerTelemetryGet")(a, &t);
    }
    ctl_result_t pciProperties(ctl_device_adapter_handle_t a, ctl_pci_properties_t &p) const
    {
        p = {};
        p.Size = sizeof p;
        return fn<pfn_ctlPciGetProperties>("ctlPciGetProperties")(a, &p);
    }
    ctl_result_t pciState(ctl_device_adapter_handle_t a, ctl_pci_state_t &s) const
    {
        s = {};
        s.Size = sizeof s;
        return fn<pfn_ctlPciGetState>("ctlPciGetState")(a, &s);
    }

private:
    void *handle;
};

// One initialised library handle over a tree and its adapters; closed (and
// checked to close) when it goes.
class Session {
public:
    explicit Session(const StandIn &lib) : lib(lib)
    {
        if (lib.init(&api) == CTL_RESULT_SUCCESS)
            adapters = lib.adapters(api);
    }
    ~Session()
    {
        if (api && lib.close(api) != CTL_RESULT_SUCCESS)
            qWarning("ctlClose failed");
    }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    bool has(size_t count) const { return api && adapters.size() == count; }
    ctl_device_adapter_handle_t operator[](size_t i) const { return adapters.at(i); }

    const StandIn &lib;
    ctl_api_handle_t api = nullptr;
    std::vector<ctl_device_adapter_handle_t> adapters;
};

// Points the stand-in at a tree for the lifetime of the object.
class SysfsRoot {
public:
    explicit SysfsRoot(const QString &root) : previous(qgetenv("CTL_SYSFS_ROOT")), had(qEnvironmentVariableIsSet("CTL_SYSFS_ROOT"))
    {
        qputenv("CTL_SYSFS_ROOT", QFile::encodeName(root));
    }
    ~SysfsRoot()
    {
        if (had)
            qputenv("CTL_SYSFS_ROOT", previous);
        else
            qunsetenv("CTL_SYSFS_ROOT");
    }

private:
    QByteArray previous;
    bool had;
};

inline bool writeFile(const QString &path, const QByteArray &content)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Copies a folder tree; files come out writable whatever the source's mode.
inline bool copyTree(const QString &from, const QString &to)
{
    const QDir src(from);
    if (!QDir().mkpath(to))
        return false;
    for (const QFileInfo &fi : src.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
        const QString target = to + QLatin1Char('/') + fi.fileName();
        if (fi.isDir()) {
            if (!copyTree(fi.filePath(), target))
                return false;
        } else if (!writeFile(target, readFile(fi.filePath()))) {
            return false;
        }
    }
    return true;
}

inline QString capture(const char *name) { return QStringLiteral(TV_SYSFS_CAPTURES "/") + QLatin1String(name); }

} // namespace testing
