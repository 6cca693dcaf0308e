// Run-time binding to the control library. The program is not linked against
// libControlLib.so: ctlInit loads it from the one folder fixed at build time,
// relative to the program's own file (or from the exact file a runtime path
// or TARVELL_CONTROL_LIBRARY names), every
// other entry point looks its target up by name on each call and forwards.
// Nothing here prints or logs; every failure is a result code.

#include "gpu/ctl_api.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <dlfcn.h>

#include <cwchar>
#include <memory>
#include <new>
#include <string>

#ifndef TV_CTL_LIBDIR
#error "TV_CTL_LIBDIR must name the control library's folder, relative to the program's"
#endif

namespace {

// Process-wide binding state. Only the worker thread calls in, one call at a
// time, so there is no lock.
void *g_module = nullptr;
ctl_runtime_path_args_t *g_pendingRuntimePath = nullptr;

constexpr size_t kPathBufferChars = 512;
// The default name is formatted into at most this many characters including
// the terminator (a 512-byte limit on the two-byte characters it was sized for).
constexpr size_t kDefaultNameLimit = 256;
const wchar_t kLibraryName[] = L"ControlLib";

template <typename Fn>
Fn lookup(const char *name)
{
    if (!g_module)
        return nullptr;
    return reinterpret_cast<Fn>(dlsym(g_module, name));
}

template <typename... Args>
ctl_result_t forward(const char *name, Args... args)
{
    using Fn = ctl_result_t (*)(Args...);
    // Looked up afresh every call: no address outlives the module it came from.
    const Fn fn = lookup<Fn>(name);
    if (!fn)
        return CTL_RESULT_ERROR_NOT_INITIALIZED;
    return fn(args...);
}

// Opens exactly the named file. A relative name is made absolute against the
// working directory first, because dlopen would search the library path for a
// name without a slash.
void *openLibraryFile(const wchar_t *path)
{
    const QString name = QString::fromWCharArray(path);
    if (name.isEmpty())
        return nullptr;
    const QString absolute = QFileInfo(name).isAbsolute() ? name : QFileInfo(name).absoluteFilePath();
    const QByteArray native = QFile::encodeName(absolute);
    return dlopen(native.constData(), RTLD_NOW | RTLD_LOCAL);
}

// Fills the buffer with the file to load; false when there is no usable name
// (a runtime path longer than the buffer would otherwise be cut short and a
// different file loaded).
bool runtimePathInto(wchar_t *buffer, const wchar_t *path)
{
    if (wcsnlen(path, kPathBufferChars) >= kPathBufferChars)
        return false;
    wcsncpy(buffer, path, kPathBufferChars - 1);
    buffer[kPathBufferChars - 1] = L'\0';
    return true;
}

// The program's folder comes from the kernel's link to its file, which names
// the file itself whatever argv[0], the working directory or a link on the
// PATH say: an installed program loads only from its installed tree, a build
// tree from itself. Anything else takes the variable, set on purpose.
bool defaultPathInto(wchar_t *buffer)
{
    const QString chosen = qEnvironmentVariable("TARVELL_CONTROL_LIBRARY");
    if (!chosen.isEmpty())
        return runtimePathInto(buffer, chosen.toStdWString().c_str());
    // The library is loaded again after every close, once a second while the
    // readings run; where the program's file lies does not change meanwhile.
    static const std::wstring folder = [] {
        const QString program = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
        return program.isEmpty() ? std::wstring()
                                 : (QFileInfo(program).path() + QStringLiteral("/" TV_CTL_LIBDIR)).toStdWString();
    }();
    if (folder.empty())
        return false;
    const int n = swprintf(buffer, kDefaultNameLimit, L"%ls/lib%ls.so", folder.c_str(), kLibraryName);
    // A cut-short name would load some other file.
    return n > 0 && static_cast<size_t>(n) < kDefaultNameLimit;
}

} // namespace

extern "C" {

CTL_APIEXPORT ctl_result_t CTL_APICALL ctlInit(ctl_init_args_t *pInitDesc, ctl_api_handle_t *phAPIHandle)
{
    ctl_result_t result = CTL_RESULT_ERROR_NOT_INITIALIZED;
    if (!g_module) {
        std::unique_ptr<wchar_t[]> path(new (std::nothrow) wchar_t[kPathBufferChars]());
        if (!path)
            return CTL_RESULT_ERROR_OUT_OF_MEMORY;

        bool load = true;
        bool named = false;
        if (g_pendingRuntimePath && g_pendingRuntimePath->pRuntimePath) {
            named = runtimePathInto(path.get(), g_pendingRuntimePath->pRuntimePath);
        } else if (!pInitDesc) {
            // No version to check and nothing the library could initialise.
            return CTL_RESULT_ERROR_INVALID_NULL_POINTER;
        } else if (ctlMajorVersion(pInitDesc->AppVersion) > CTL_SUPPORTED_MAJOR_VERSION) {
            result = CTL_RESULT_ERROR_UNSUPPORTED_VERSION;
            load = false;
        } else {
            named = defaultPathInto(path.get());
        }

        if (load) {
            g_module = named ? openLibraryFile(path.get()) : nullptr;
            if (!g_module) {
                result = CTL_RESULT_ERROR_LOAD;
            } else {
                result = CTL_RESULT_SUCCESS;
                if (g_pendingRuntimePath) {
                    // The library learns where it was loaded from; its answer
                    // does not change the outcome of the load.
                    if (const auto setPath = lookup<pfn_ctlSetRuntimePath>("ctlSetRuntimePath"))
                        setPath(g_pendingRuntimePath);
                }
            }
        }
    }

    if (g_module) {
        if (const auto init = lookup<pfn_ctlInit>("ctlInit"))
            result = init(pInitDesc, phAPIHandle);
    }
    return result;
}

CTL_APIEXPORT ctl_result_t CTL_APICALL ctlClose(ctl_api_handle_t hAPIHandle)
{
    ctl_result_t result = CTL_RESULT_ERROR_NOT_INITIALIZED;
    if (g_module) {
        if (const auto close = lookup<pfn_ctlClose>("ctlClose")) {
            result = close(hAPIHandle);
            // A library that refused to close keeps running; unloading it
            // under its own feet would be worse.
            if (result == CTL_RESULT_SUCCESS) {
                dlclose(g_module);
                g_module = nullptr;
            }
        }
    }
    g_pendingRuntimePath = nullptr;
    return result;
}

CTL_APIEXPORT ctl_result_t CTL_APICALL ctlSetRuntimePath(ctl_runtime_path_args_t *pArgs)
{
    if (g_module)
        return forward<ctl_runtime_path_args_t *>("ctlSetRuntimePath", pArgs);
    if (pArgs && pArgs->pRuntimePath) {
        g_pendingRuntimePath = pArgs;
        return CTL_RESULT_SUCCESS;
    }
    return CTL_RESULT_ERROR_NOT_INITIALIZED;
}

#define CTL_FORWARD_1(n, A) \
    CTL_APIEXPORT ctl_result_t CTL_APICALL n(A a) { return forward<A>(#n, a); }
#define CTL_FORWARD_2(n, A, B) \
    CTL_APIEXPORT ctl_result_t CTL_APICALL n(A a, B b) { return forward<A, B>(#n, a, b); }
#define CTL_FORWARD_3(n, A, B, C)                         \
    CTL_APIEXPORT ctl_result_t CTL_APICALL n(A a, B b, C c) \
    {                                                     \
        return forward<A, B, C>(#n, a, b, c);             \
    }
#define CTL_FORWARD_4(n, A, B, C, D)                           \
    CTL_APIEXPORT ctl_result_t CTL_APICALL n(A a, B b, C c, D d) \
    {                                                          \
        return forward<A, B, C, D>(#n, a, b, c, d);            \
    }
#define CTL_FORWARD_5(n, A, B, C, D, E)                             \
    CTL_APIEXPORT ctl_result_t CTL_APICALL n(A a, B b, C c, D d, E e) \
    {                                                               \
        return forward<A, B, C, D, E>(#n, a, b, c, d, e);           \
    }

CTL_FORWARDED_ENTRY_POINTS(CTL_FORWARD_1, CTL_FORWARD_2, CTL_FORWARD_3, CTL_FORWARD_4, CTL_FORWARD_5)

} // extern "C"
