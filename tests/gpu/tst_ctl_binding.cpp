// The control library binding, built twice: once with nothing in its system
// directory (while copies lie beside the executable and on LD_LIBRARY_PATH,
// where they must stay untouched), once with the scripted library installed
// there (the systemDirectory tests).
#include "tests/gpu/fake_ctl.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <string>
#include <vector>

namespace {

ctl_init_args_t initArgs(ctl_version_info_t version)
{
    ctl_init_args_t args{};
    args.Size = sizeof args;
    args.AppVersion = version;
    return args;
}

bool isMapped(const char *path)
{
    void *h = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (h)
        dlclose(h);
    return h != nullptr;
}

template <typename T>
T zero()
{
    return T{};
}

// Every forwarder, called once with null handles and zero values.
std::vector<std::pair<std::string, ctl_result_t>> callEveryForwarder()
{
    std::vector<std::pair<std::string, ctl_result_t>> calls;
#define TV_CALL_1(n, A) calls.emplace_back(#n, n(zero<A>()));
#define TV_CALL_2(n, A, B) calls.emplace_back(#n, n(zero<A>(), zero<B>()));
#define TV_CALL_3(n, A, B, C) calls.emplace_back(#n, n(zero<A>(), zero<B>(), zero<C>()));
#define TV_CALL_4(n, A, B, C, D) calls.emplace_back(#n, n(zero<A>(), zero<B>(), zero<C>(), zero<D>()));
#define TV_CALL_5(n, A, B, C, D, E) \
    calls.emplace_back(#n, n(zero<A>(), zero<B>(), zero<C>(), zero<D>(), zero<E>()));
    CTL_FORWARDED_ENTRY_POINTS(TV_CALL_1, TV_CALL_2, TV_CALL_3, TV_CALL_4, TV_CALL_5)
    return calls;
}

// ctlInit, after recording runtimePath (when given); the binding keeps the
// record, not a copy, so it lives until the next call.
ctl_result_t initWith(const char *runtimePath, ctl_version_info_t version = ctlMakeVersion(1, 1),
                      ctl_api_handle_t *api = nullptr)
{
    static std::unique_ptr<RuntimePath> path;
    path.reset(runtimePath ? new RuntimePath(QString::fromLocal8Bit(runtimePath).toStdWString()) : nullptr);
    if (path)
        ctlSetRuntimePath(&path->args);
    ctl_init_args_t args = initArgs(version);
    ctl_api_handle_t own = nullptr;
    return ctlInit(&args, api ? api : &own);
}

bool unloaded()
{
    ctl_pci_state_t state{};
    return ctlPciGetState(nullptr, &state) == CTL_RESULT_ERROR_NOT_INITIALIZED;
}

} // namespace

class CtlBindingTest : public QObject {
    Q_OBJECT
    const bool systemLibrary = QFile::exists(QStringLiteral(TV_CTL_LIBDIR "/libControlLib.so"));
    // Opened by the test too, so the binding's unloads never drop the scenario it steers.
    FakeCtlScenario *const s = openFakeScenario(systemLibrary ? TV_CTL_LIBDIR "/libControlLib.so" : FAKE_CTL_PATH);

private slots:
    void init()
    {
        QVERIFY(s);
        if (QByteArray(QTest::currentTestFunction()).startsWith("systemDirectory") != systemLibrary)
            QSKIP("for the other library set-up");
        *s = FakeCtlScenario{};
    }
    void cleanup()
    {
        s->closeResult = CTL_RESULT_SUCCESS;
        for (int i = 0; i < 3 && ctlClose(nullptr) != CTL_RESULT_ERROR_NOT_INITIALIZED; ++i) {
        }
    }

    // No library found, or one without ctlInit: every forwarder answers
    // "not initialised", apart from what the library itself exports. The
    // copies beside the executable and on LD_LIBRARY_PATH stay untouched.
    void unusableLibraryLeavesForwardersUninitialised()
    {
        QVERIFY(QFile::exists(QStringLiteral(BESIDE_CTL_PATH)));
        QVERIFY(qEnvironmentVariable("LD_LIBRARY_PATH").contains(QStringLiteral(LDPATH_DIR)));
        const struct {
            const char *path;
            ctl_result_t init, close;
            const char *exported; // answers with CTL_RESULT_ERROR_DATA_READ
        } rows[] = {{nullptr, CTL_RESULT_ERROR_LOAD, CTL_RESULT_ERROR_NOT_INITIALIZED, ""},
                    {NOINIT_CTL_PATH, CTL_RESULT_SUCCESS, CTL_RESULT_SUCCESS, "ctlPciGetState"}};
        for (const auto &row : rows) {
            ctl_api_handle_t api = nullptr;
            QCOMPARE(initWith(row.path, ctlMakeVersion(1, 1), &api), row.init);
            QVERIFY(!api);
            QVERIFY(!isMapped(BESIDE_CTL_PATH) && !isMapped(LDPATH_CTL_PATH));
            for (const auto &call : callEveryForwarder())
                QVERIFY2(call.second == (call.first == row.exported ? CTL_RESULT_ERROR_DATA_READ
                                                                   : CTL_RESULT_ERROR_NOT_INITIALIZED),
                         call.first.c_str());
            QCOMPARE(ctlClose(api), row.close);
            QVERIFY(!isMapped(NOINIT_CTL_PATH));
        }
        ctl_runtime_path_args_t noPath{};
        QCOMPARE(ctlSetRuntimePath(&noPath), CTL_RESULT_ERROR_NOT_INITIALIZED);
        QCOMPARE(ctlSetRuntimePath(nullptr), CTL_RESULT_ERROR_NOT_INITIALIZED);
        ctl_api_handle_t none = nullptr;
        QCOMPARE(ctlInit(nullptr, &none), CTL_RESULT_ERROR_INVALID_NULL_POINTER);
    }

    // The recorded file is loaded and then handed the same record, whatever it
    // answers. Loaded, ctlSetRuntimePath and a second ctlInit (version check
    // included) go straight to the library; a failing close keeps it; every
    // close forgets the recorded path, also without a library.
    void runtimePathIsLoadedHandedOverAndForgotten()
    {
        RuntimePath path(QStringLiteral(FAKE_CTL_PATH).toStdWString()), other(L"/elsewhere/libControlLib.so");
        s->setRuntimePathResult = s->initResults[1] = CTL_RESULT_ERROR_INVALID_ARGUMENT;
        QCOMPARE(ctlSetRuntimePath(&path.args), CTL_RESULT_SUCCESS);
        ctl_init_args_t args = initArgs(ctlMakeVersion(1, 1)), newer = initArgs(ctlMakeVersion(2, 0));
        ctl_api_handle_t api = nullptr;
        QCOMPARE(ctlInit(&args, &api), CTL_RESULT_SUCCESS);
        QCOMPARE(s->runtimePathArgs, &path.args);
        QCOMPARE(ctlSetRuntimePath(&other.args), CTL_RESULT_ERROR_INVALID_ARGUMENT);
        QCOMPARE(s->runtimePathArgs, &other.args);
        QCOMPARE(ctlInit(&newer, &api), CTL_RESULT_ERROR_INVALID_ARGUMENT);
        s->closeResult = CTL_RESULT_ERROR_DEVICE_LOST;
        QCOMPARE(ctlClose(api), CTL_RESULT_ERROR_DEVICE_LOST);
        QVERIFY(!unloaded());
        s->closeResult = CTL_RESULT_SUCCESS;
        QCOMPARE(ctlClose(api), CTL_RESULT_SUCCESS);
        QCOMPARE(s->closedHandle, api);
        QVERIFY(unloaded());
        QCOMPARE(ctlSetRuntimePath(&path.args), CTL_RESULT_SUCCESS);
        QCOMPARE(ctlClose(nullptr), CTL_RESULT_ERROR_NOT_INITIALIZED);
        QCOMPARE(ctlInit(&args, &api), CTL_RESULT_ERROR_LOAD);
        QCOMPARE(s->initCalls, 2);
    }

    void relativeRuntimePathNamesTheWorkingDirectoryFile()
    {
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(QFileInfo(QStringLiteral(FAKE_CTL_PATH)).absolutePath()));
        const ctl_result_t r = initWith("libControlLib.so");
        QDir::setCurrent(previous);
        QCOMPARE(r, CTL_RESULT_SUCCESS);
        QCOMPARE(s->initCalls, 1); // not the copy on LD_LIBRARY_PATH
        QVERIFY(!isMapped(LDPATH_CTL_PATH));
    }

    void runtimePathLongerThanTheBufferIsNotCutShort()
    {
        // A copy of the library at a path of exactly 511 characters, and a
        // longer path that begins with it.
        QTemporaryDir tmp;
        const QString dir = tmp.path() + '/' + QString(200, 'a') + '/' + QString(200, 'b');
        QVERIFY(QDir().mkpath(dir));
        const QString exact = dir + '/' + QString(511 - dir.size() - 1, 'c');
        QVERIFY(QFile::copy(QStringLiteral(FAKE_CTL_PATH), exact));
        const QByteArray native = QFile::encodeName(exact);
        QCOMPARE(initWith(QFile::encodeName(exact + 'd').constData()), CTL_RESULT_ERROR_LOAD);
        QVERIFY(!isMapped(native.constData()));
        QCOMPARE(initWith(native.constData()), CTL_RESULT_SUCCESS);
        QVERIFY(isMapped(native.constData()));
    }

    void forwardersPassTheirParametersThrough()
    {
        QCOMPARE(initWith(FAKE_CTL_PATH), CTL_RESULT_SUCCESS);
        auto adapter = reinterpret_cast<ctl_device_adapter_handle_t>(0x1234);
        QCOMPARE(ctlOverclockPowerLimitSet(adapter, 187.25), CTL_RESULT_ERROR_CORE_OVERCLOCK_POWER_OUTSIDE_RANGE);
        QCOMPARE(s->number, 187.25);
        uint32_t count = 0;
        double points[4] = {};
        QCOMPARE(ctlOverclockReadVFCurve(adapter, 5, 6, &count, points), CTL_RESULT_SUCCESS);
        QCOMPARE(s->pointers[0], static_cast<void *>(adapter));
        QVERIFY(s->values[0] == 5 && s->values[1] == 6 && s->pointers[1] == &count && s->pointers[2] == points);
    }

    // The default library comes from the system directory. A major version
    // above 1 is refused before anything is loaded; the minor is not looked at.
    void systemDirectoryHoldsTheDefaultLibrary()
    {
        const ctl_version_info_t refused[] = {0x00020000u, 0xFFFF0000u}, accepted[] = {0x0001FFFFu, 0x00000009u};
        for (ctl_version_info_t version : refused) {
            QCOMPARE(initWith(nullptr, version), CTL_RESULT_ERROR_UNSUPPORTED_VERSION);
            QVERIFY(unloaded());
        }
        QCOMPARE(s->initCalls, 0);
        for (ctl_version_info_t version : accepted) {
            *s = FakeCtlScenario{};
            ctl_api_handle_t api = nullptr;
            QCOMPARE(initWith(nullptr, version, &api), CTL_RESULT_SUCCESS);
            QCOMPARE(s->setRuntimePathCalls, 0); // nothing recorded, nothing handed over
            QCOMPARE(s->initArgs.AppVersion, version);
            QCOMPARE(ctlClose(api), CTL_RESULT_SUCCESS);
            QVERIFY(unloaded());
        }
    }
};

QTEST_GUILESS_MAIN(CtlBindingTest)
#include "tst_ctl_binding.moc"
