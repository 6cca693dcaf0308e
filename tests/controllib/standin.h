#pragma once
// Test helpers: the stand-in library loaded by path, and small sysfs trees.

#include "gpu/ctl_api.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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
    bool loaded() const { return handle != nullptr; }
    template <typename Fn>
    Fn fn(const char *name) const
    {
        return reinterpret_cast<Fn>(handle ? dlsym(handle, name) : nullptr);
    }
    // An entry point called with a fresh record whose size member is set.
    template <typename Record>
    ctl_result_t query(const char *name, ctl_device_adapter_handle_t a, Record &r, uint8_t version = 0) const
    {
        r = {};
        r.Size = sizeof r;
        r.Version = version;
        return fn<ctl_result_t (*)(ctl_device_adapter_handle_t, Record *)>(name)(a, &r);
    }
    ctl_result_t close(ctl_api_handle_t api) const { return fn<pfn_ctlClose>("ctlClose")(api); }

private:
    void *handle;
};

// One initialised library handle over a tree and its adapters, closed when it goes.
struct Session {
    explicit Session(const StandIn &lib) : lib(lib)
    {
        ctl_init_args_t args{};
        args.Size = sizeof args;
        args.AppVersion = ctlMakeVersion(1, 1);
        const auto enumerate = lib.fn<pfn_ctlEnumerateDevices>("ctlEnumerateDevices");
        uint32_t count = 0;
        if (lib.fn<pfn_ctlInit>("ctlInit")(&args, &api) != CTL_RESULT_SUCCESS || enumerate(api, &count, nullptr))
            return;
        adapters.resize(count);
        if (count && enumerate(api, &count, adapters.data()) != CTL_RESULT_SUCCESS)
            count = 0;
        adapters.resize(count);
    }
    ~Session()
    {
        if (api)
            lib.close(api);
    }
    bool has(size_t count) const { return api && adapters.size() == count; }
    ctl_device_adapter_handle_t operator[](size_t i) const { return adapters.at(i); }

    const StandIn &lib;
    ctl_api_handle_t api = nullptr;
    std::vector<ctl_device_adapter_handle_t> adapters;
};

// Points the stand-in at a tree for the lifetime of the object.
struct SysfsRoot {
    explicit SysfsRoot(const QString &root) { qputenv("CTL_SYSFS_ROOT", QFile::encodeName(root)); }
    ~SysfsRoot() { qunsetenv("CTL_SYSFS_ROOT"); }
};

inline bool writeFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    return QDir().mkpath(QFileInfo(path).absolutePath()) && f.open(QIODevice::WriteOnly | QIODevice::Truncate)
           && f.write(content) == content.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Copies a folder tree; files come out writable whatever the source's mode.
inline bool copyTree(const QString &from, const QString &to)
{
    if (!QDir().mkpath(to))
        return false;
    for (const QFileInfo &fi : QDir(from).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const QString target = to + '/' + fi.fileName();
        if (fi.isDir() ? !copyTree(fi.filePath(), target) : !writeFile(target, readFile(fi.filePath())))
            return false;
    }
    return true;
}

inline QString capture(const char *name) { return QStringLiteral(TV_SYSFS_CAPTURES "/") + name; }

} // namespace testing
