#pragma once
// Shared by the binding tests: the scripted library's scenario, runtime-path
// records and a call of every forwarder.

#include "tests/gpu/fake_ctl.h"

#include <QString>
#include <QVector>

#include <dlfcn.h>

#include <vector>

inline ctl_init_args_t initArgs(ctl_version_info_t version)
{
    ctl_init_args_t args{};
    args.Size = sizeof args;
    args.AppVersion = version;
    args.flags = CTL_INIT_FLAG_STANDARD;
    return args;
}

// A runtime-path record with its own copy of the path.
struct RuntimePath {
    explicit RuntimePath(const QString &path) : chars(path.size() + 1, L'\0')
    {
        path.toWCharArray(chars.data());
        args.Size = sizeof args;
        args.pRuntimePath = chars.data();
    }
    std::vector<wchar_t> chars;
    ctl_runtime_path_args_t args{};
};

// Opens the scripted library at path for the test's own use; the reference
// keeps it (and its scenario) alive across the binding's unloads.
inline FakeCtlScenario *openScenario(const char *path, void **handle)
{
    *handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!*handle)
        return nullptr;
    auto fn = reinterpret_cast<FakeScenarioFn>(dlsym(*handle, "fakectl_scenario"));
    return fn ? fn() : nullptr;
}

inline bool isMapped(const char *path)
{
    void *h = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (!h)
        return false;
    dlclose(h);
    return true;
}

template <typename T>
T zero()
{
    return T{};
}

struct ForwarderCall {
    const char *name;
    ctl_result_t result;
};

// Calls every forwarder once with null handles and zero values.
inline std::vector<ForwarderCall> callEveryForwarder()
{
    std::vector<ForwarderCall> calls;
#define TV_CALL_1(n, A) calls.push_back({#n, n(zero<A>())});
#define TV_CALL_2(n, A, B) calls.push_back({#n, n(zero<A>(), zero<B>())});
#define TV_CALL_3(n, A, B, C) calls.push_back({#n, n(zero<A>(), zero<B>(), zero<C>())});
#define TV_CALL_4(n, A, B, C, D) calls.push_back({#n, n(zero<A>(), zero<B>(), zero<C>(), zero<D>())});
#define TV_CALL_5(n, A, B, C, D, E) \
    calls.push_back({#n, n(zero<A>(), zero<B>(), zero<C>(), zero<D>(), zero<E>())});
    CTL_FORWARDED_ENTRY_POINTS(TV_CALL_1, TV_CALL_2, TV_CALL_3, TV_CALL_4, TV_CALL_5)
#undef TV_CALL_1
#undef TV_CALL_2
#undef TV_CALL_3
#undef TV_CALL_4
#undef TV_CALL_5
    return calls;
}

// Unloads whatever the binding holds, so that each test starts unloaded.
inline void unloadBinding(FakeCtlScenario *s)
{
    if (s)
        s->closeResult = CTL_RESULT_SUCCESS;
    for (int i = 0; i < 3 && ctlClose(nullptr) != CTL_RESULT_ERROR_NOT_INITIALIZED; ++i) {
    }
}
