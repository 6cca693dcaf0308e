// The control library binding, built twice: with nothing in its system directory,
// and with the scripted library installed there (the systemDirectory tests).
#include "tests/gpu/fake_ctl.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <string>
#include <vector>

namespace {

ctl_init_args_t initArgs(ctl_version_info_t version) { return {sizeof(ctl_init_args_t), 0, version, 0, 0, {}}; }

bool isMapped(const char *path)
{
    void *h = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    return h && dlclose(h) == 0;
}

// A call with every argument null or zero.
template <typename... Args> ctl_result_t callWithZeros(ctl_result_t (*f)(Args...)) { return f(Args{}...); }

// Every forwarder, called once with null handles and zero values.
std::vector<std::pair<std::string, ctl_result_t>> callEveryForwarder()
{
    std::vector<std::pair<std::string, ctl_result_t>> calls;
#define TV_CALL(n, ...) calls.emplace_back(#n, callWithZeros(n));
    CTL_FORWARDED_ENTRY_POINTS(TV_CALL, TV_CALL, TV_CALL, TV_CALL, TV_CALL)
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

bool unloaded() { return ctlPciGetState(nullptr, nullptr) == CTL_RESULT_ERROR_NOT_INITIALIZED; }

} // namespace

class CtlBindingTest : public QObject {
    Q_OBJECT
    const QByteArray systemPath = QFile::encodeName(QCoreApplication::applicationDirPath() + "/" TV_CTL_LIBDIR "/libControlLib.so");
    const bool systemLibrary = QFile::exists(systemPath);
    // Opened by the test too, so the binding's unloads never drop the scenario it steers.
    FakeCtlScenario *const s = openFakeScenario(systemLibrary ? systemPath.constData() : FAKE_CTL_PATH);

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
        ctlClose(nullptr); // unloads whatever a test left loaded
    }

    // No library found, or one without ctlInit: every forwarder answers
    // "not initialised", apart from what the library itself exports. The
    // copies beside the executable and on LD_LIBRARY_PATH stay untouched.
    void unusableLibraryLeavesForwardersUninitialised()
    {
        QVERIFY(QFile::exists(QStringLiteral(BESIDE_CTL_PATH))
                && qEnvironmentVariable("LD_LIBRARY_PATH").contains(QStringLiteral(LDPATH_DIR)));
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

    // A runtime path names exactly one file: a bare name the working
    // directory's (not one on LD_LIBRARY_PATH), a path longer than the buffer
    // none, not the 511-character path it begins with.
    void runtimePathNamesExactlyOneFile()
    {
        QTemporaryDir tmp;
        const QString dir = tmp.path() + '/' + QString(200, 'a') + '/' + QString(200, 'b');
        const QByteArray exact = QFile::encodeName(dir + '/' + QString(511 - dir.size() - 1, 'c'));
        QVERIFY(QDir().mkpath(dir) && QFile::copy(QStringLiteral(FAKE_CTL_PATH), QFile::decodeName(exact)));
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(QFileInfo(QStringLiteral(FAKE_CTL_PATH)).absolutePath()));
        const ctl_result_t bare = initWith("libControlLib.so");
        QDir::setCurrent(previous);
        QCOMPARE(bare, CTL_RESULT_SUCCESS);
        QVERIFY(s->initCalls == 1 && !isMapped(LDPATH_CTL_PATH));
        QCOMPARE(ctlClose(nullptr), CTL_RESULT_SUCCESS);
        QCOMPARE(initWith((exact + 'd').constData()), CTL_RESULT_ERROR_LOAD);
        QVERIFY(!isMapped(exact.constData()));
        QCOMPARE(initWith(exact.constData()), CTL_RESULT_SUCCESS);
        QVERIFY(isMapped(exact.constData()));
    }

    // The variable names the library when the program's folder holds none.
    void variableNamesTheLibrary()
    {
        qputenv("TARVELL_CONTROL_LIBRARY", FAKE_CTL_PATH);
        QVERIFY(initWith(nullptr) == CTL_RESULT_SUCCESS && s->initCalls == 1);
        qunsetenv("TARVELL_CONTROL_LIBRARY");
    }

    // The default library comes from the system directory. A major version
    // above 1 is refused before anything is loaded; the minor is not looked at.
    void systemDirectoryHoldsTheDefaultLibrary()
    {
        for (const auto &[version, accepted] :
             {std::pair{0x00020000u, false}, {0xFFFF0000u, false}, {0x0001FFFFu, true}, {0x00000009u, true}}) {
            *s = FakeCtlScenario{};
            ctl_api_handle_t api = nullptr;
            QCOMPARE(initWith(nullptr, version, &api),
                     accepted ? CTL_RESULT_SUCCESS : CTL_RESULT_ERROR_UNSUPPORTED_VERSION);
            QCOMPARE(s->initCalls, int(accepted));
            QVERIFY(!s->runtimePathArgs); // nothing recorded, nothing handed over
            QCOMPARE(ctlClose(api), accepted ? CTL_RESULT_SUCCESS : CTL_RESULT_ERROR_NOT_INITIALIZED);
            QVERIFY(unloaded());
        }
    }
};

QTEST_GUILESS_MAIN(CtlBindingTest)
#include "tst_ctl_binding.moc"
