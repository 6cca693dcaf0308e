// The binding with nothing in its system directory, a library beside the
// executable and another on LD_LIBRARY_PATH: only an explicit runtime path
// may load anything.
#include "tests/gpu/binding_helpers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <set>
#include <string>

class CtlBindingTest : public QObject {
    Q_OBJECT
    void *fakeHandle = nullptr;
    FakeCtlScenario *s = nullptr;

    void expectUnloaded()
    {
        ctl_pci_state_t state{};
        QCOMPARE(ctlPciGetState(nullptr, &state), CTL_RESULT_ERROR_NOT_INITIALIZED);
    }

private slots:
    void initTestCase()
    {
        s = openScenario(FAKE_CTL_PATH, &fakeHandle);
        QVERIFY2(s, dlerror());
        QVERIFY(QDir(QStringLiteral(TV_CTL_LIBDIR)).exists());
        QVERIFY(!QFile::exists(QStringLiteral(TV_CTL_LIBDIR "/libControlLib.so")));
    }
    void init() { *s = FakeCtlScenario{}; }
    void cleanup() { unloadBinding(s); }
    void cleanupTestCase() { dlclose(fakeHandle); }

    void missingLibraryLeavesEveryForwarderUninitialised()
    {
        ctl_init_args_t args = initArgs(ctlMakeVersion(1, 1));
        ctl_api_handle_t api = nullptr;
        QCOMPARE(ctlInit(&args, &api), CTL_RESULT_ERROR_LOAD);
        QVERIFY(!api);

        const auto calls = callEveryForwarder();
        QCOMPARE(int(calls.size()), CTL_FORWARDED_ENTRY_POINT_COUNT);
        std::set<std::string> names;
        for (const ForwarderCall &c : calls) {
            names.insert(c.name);
            QVERIFY2(c.result == CTL_RESULT_ERROR_NOT_INITIALIZED, c.name);
        }
        QCOMPARE(int(names.size()), CTL_FORWARDED_ENTRY_POINT_COUNT);
        QCOMPARE(ctlClose(api), CTL_RESULT_ERROR_NOT_INITIALIZED);
        ctl_runtime_path_args_t noPath{};
        QCOMPARE(ctlSetRuntimePath(&noPath), CTL_RESULT_ERROR_NOT_INITIALIZED);
        QCOMPARE(ctlSetRuntimePath(nullptr), CTL_RESULT_ERROR_NOT_INITIALIZED);
    }

    void librariesBesideTheProgramOrOnTheLibraryPathAreNotLoaded()
    {
        const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/libControlLib.so");
        QVERIFY(QFile::exists(beside));
        QCOMPARE(QFileInfo(beside).canonicalFilePath(), QFileInfo(QStringLiteral(BESIDE_CTL_PATH)).canonicalFilePath());
        QVERIFY(QFile::exists(QStringLiteral(LDPATH_CTL_PATH)));
        QVERIFY(qEnvironmentVariable("LD_LIBRARY_PATH").contains(QStringLiteral(LDPATH_DIR)));

        ctl_init_args_t args = initArgs(ctlMakeVersion(1, 1));
        ctl_api_handle_t api = nullptr;
        QCOMPARE(ctlInit(&args, &api), CTL_RESULT_ERROR_LOAD);
        QVERIFY(!isMapped(BESIDE_CTL_PATH));
        QVERIFY(!isMapped(LDPATH_CTL_PATH));
        expectUnloaded();
    }

    void versionCheck_data()
    {
        QTest::addColumn<uint>("version");
        QTest::addColumn<uint>("expected");
        // Refused before any load is tried; the others try and find nothing.
        QTest::newRow("2.0") << 0x00020000u << uint(CTL_RESULT_ERROR_UNSUPPORTED_VERSION);
        QTest::newRow("65535.0") << 0xFFFF0000u << uint(CTL_RESULT_ERROR_UNSUPPORTED_VERSION);
        QTest::newRow("1.65535") << 0x0001FFFFu << uint(CTL_RESULT_ERROR_LOAD);
        QTest::newRow("0.9") << 0x00000009u << uint(CTL_RESULT_ERROR_LOAD);
    }
    void versionCheck()
    {
        QFETCH(uint, version);
        QFETCH(uint, expected);
        ctl_init_args_t args = initArgs(version);
        ctl_api_handle_t api = nullptr;
        QCOMPARE(ctlInit(&args, &api), ctl_result_t(expected));
        expectUnloaded();
    }

    void initWithoutArgumentsIsRefused()
    {
        ctl_api_handle_t api = nullptr;
        QCOMPARE(ctlInit(nullptr, &api), CTL_RESULT_ERROR_INVALID_NULL_POINTER);
        expectUnloaded();
    }

    void closeWithoutLibraryStillForgetsTheRuntimePath()
    {
        RuntimePath path(QStringLiteral(FAKE_CTL_PATH));
        QCOMPARE(ctlSetRuntimePath(&path.args), CTL_RESULT_SUCCESS);
        QCOMPARE(ctlClose(nullptr), CTL_RESULT_ERROR_NOT_INITIALIZED);
        ctl_init_args_t args = initArgs(ctlMakeVersion(1, 1));
        ctl_api_handle_t api = nullptr;
        QCOMPARE(ctlInit(&args, &api), CTL_RESULT_ERROR_LOAD); // the default, not the recorded path
        QCOMPARE(s->initCalls, 0);
    }

    void runtimePathIsLoadedAndHandedToTheLibrary()
    {
        RuntimePath path(QStringLiteral(FAKE_CTL_PATH));
        QCOMPARE(ctlSetRuntimePath(&path.args), CTL_RESULT_SUCCESS);
        s->setRuntimePathResult = CTL_RESULT_ERROR_DEVICE_LOST; // not looked at
        ctl_init_args_t args = initArgs(ctlMakeVersion(1, 1));
        ctl_api_handle_t api = nullptr;
        QCOMPARE(ctlInit(&args, &api), CTL_RESULT_SUCCESS);
        QCOMPARE(s->setRuntimePathCalls, 1);
        QCOMPARE(s->runtimePathArgs, &path.args);
        QCOMPARE(s->initCalls, 1);
        QCOMPARE(s->initArgsPointer, &args);
        QCOMPARE(api, fakeApiHandle(s));

        // Loaded: ctlSetRuntimePath now goes to the library.
        RuntimePath other(QStringLiteral("/elsewhere/libControlLib.so"));
        s->setRuntimePathResult = CTL_RESULT_ERROR_INVALID_ARGUMENT;
        QCOMPARE(ctlSetRuntimePath(&other.args), CTL_RESULT_ERROR_INVALID_ARGUMENT);
        QCOMPARE(s->runtimePathArgs, &other.args);

        QCOMPARE(ctlClose(api), CTL_RESULT_SUCCESS);
        QCOMPARE(s->closedHandle, api);
        expectUnloaded();
    }

    void loadedLibraryIsNotLoadedAgain()
    {
        RuntimePath path(QStringLiteral(FAKE_CTL_PATH));
        ctlSetRuntimePath(&path.args);
        s->initResults[0] = CTL_RESULT_ERROR_NOT_AVAILABLE;
        ctl_init_args_t args = initArgs(ctlMakeVersion(1, 1));
        ctl_api_handle_t api = nullptr;
        QCOMPARE(ctlInit(&args, &api), CTL_RESULT_ERROR_NOT_AVAILABLE);
        // Still loaded: the second call goes straight to the library, version
        // check and path handover included.
        ctl_init_args_t newer = initArgs(ctlMakeVersion(2, 0));
        QCOMPARE(ctlInit(&newer, &api), CTL_RESULT_SUCCESS);
        QCOMPARE(s->initCalls, 2);
        QCOMPARE(s->setRuntimePathCalls, 1);
    }

    void failedCloseKeepsTheLibraryLoaded()
    {
        RuntimePath path(QStringLiteral(FAKE_CTL_PATH));
        ctlSetRuntimePath(&path.args);
        ctl_init_args_t args = initArgs(ctlMakeVersion(1, 1));
        ctl_api_handle_t api = nullptr;
        QCOMPARE(ctlInit(&args, &api), CTL_RESULT_SUCCESS);
        s->closeResult = CTL_RESULT_ERROR_DEVICE_LOST;
        QCOMPARE(ctlClose(api), CTL_RESULT_ERROR_DEVICE_LOST);
        ctl_pci_state_t state{};
        QCOMPARE(ctlPciGetState(reinterpret_cast<ctl_device_adapter_handle_t>(&s->adapters[0]), &state),
                 CTL_RESULT_SUCCESS);
        QCOMPARE(s->pciStateCalls, 1);
        s->closeResult = CTL_RESULT_SUCCESS;
        QCOMPARE(ctlClose(api), CTL_RESULT_SUCCESS);
        QCOMPARE(s->closeCalls, 2);
        expectUnloaded();
    }

    void libraryWithoutCtlInit()
    {
        RuntimePath path(QStringLiteral(NOINIT_CTL_PATH));
        QCOMPARE(ctlSetRuntimePath(&path.args), CTL_RESULT_SUCCESS);
        ctl_init_args_t args = initArgs(ctlMakeVersion(1, 1));
        ctl_api_handle_t api = nullptr;
        QCOMPARE(ctlInit(&args, &api), CTL_RESULT_SUCCESS); // loaded, never initialised
        QVERIFY(!api);
        QVERIFY(isMapped(NOINIT_CTL_PATH));
        for (const ForwarderCall &c : callEveryForwarder()) {
            const ctl_result_t expected = std::string(c.name) == "ctlPciGetState"
                                              ? CTL_RESULT_ERROR_DATA_READ
                                              : CTL_RESULT_ERROR_NOT_INITIALIZED;
            QVERIFY2(c.result == expected, c.name);
        }
        QCOMPARE(ctlClose(api), CTL_RESULT_SUCCESS);
        QVERIFY(!isMapped(NOINIT_CTL_PATH));
    }

    void relativeRuntimePathNamesTheWorkingDirectoryFile()
    {
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(QFileInfo(QStringLiteral(FAKE_CTL_PATH)).absolutePath()));
        RuntimePath path(QStringLiteral("libControlLib.so"));
        ctlSetRuntimePath(&path.args);
        ctl_init_args_t args = initArgs(ctlMakeVersion(1, 1));
        ctl_api_handle_t api = nullptr;
        const ctl_result_t r = ctlInit(&args, &api);
        QDir::setCurrent(previous);
        QCOMPARE(r, CTL_RESULT_SUCCESS);
        QCOMPARE(s->initCalls, 1); // the working directory's file, not the one on LD_LIBRARY_PATH
        QVERIFY(!isMapped(LDPATH_CTL_PATH));
    }

    void runtimePathLongerThanTheBufferIsNotCutShort()
    {
        // A copy of the library whose path is exactly 511 characters long,
        // and a longer path that begins with it.
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        QString dir = tmp.path() + QLatin1Char('/') + QString(200, QLatin1Char('a'));
        dir += QLatin1Char('/') + QString(200, QLatin1Char('b'));
        QVERIFY(QDir().mkpath(dir));
        const QString prefix = dir + QLatin1Char('/') + QString(511 - dir.size() - 1, QLatin1Char('c'));
        QCOMPARE(prefix.size(), 511);
        QVERIFY(QFile::copy(QStringLiteral(FAKE_CTL_PATH), prefix));
        const QByteArray prefixNative = QFile::encodeName(prefix);

        RuntimePath tooLong(prefix + QStringLiteral("d"));
        ctlSetRuntimePath(&tooLong.args);
        ctl_init_args_t args = initArgs(ctlMakeVersion(1, 1));
        ctl_api_handle_t api = nullptr;
        QCOMPARE(ctlInit(&args, &api), CTL_RESULT_ERROR_LOAD);
        QVERIFY(!isMapped(prefixNative.constData()));
        ctlClose(api);

        RuntimePath exact(prefix);
        ctlSetRuntimePath(&exact.args);
        QCOMPARE(ctlInit(&args, &api), CTL_RESULT_SUCCESS);
        QVERIFY(isMapped(prefixNative.constData()));
        QCOMPARE(ctlClose(api), CTL_RESULT_SUCCESS);
        QVERIFY(!isMapped(prefixNative.constData()));
    }

    void forwardersPassEveryParameterListThrough()
    {
        RuntimePath path(QStringLiteral(FAKE_CTL_PATH));
        ctlSetRuntimePath(&path.args);
        ctl_init_args_t args = initArgs(ctlMakeVersion(1, 1));
        ctl_api_handle_t api = nullptr;
        QCOMPARE(ctlInit(&args, &api), CTL_RESULT_SUCCESS);
        auto adapter = reinterpret_cast<ctl_device_adapter_handle_t>(0x1234);
        auto fan = reinterpret_cast<ctl_fan_handle_t>(0x5678);
        auto led = reinterpret_cast<ctl_led_handle_t>(0x9abc);

        QCOMPARE(ctlFanSetDefaultMode(fan), CTL_RESULT_ERROR_INVALID_ARGUMENT);
        QCOMPARE(s->pointers[0], static_cast<void *>(fan));

        QCOMPARE(ctlOverclockPowerLimitSet(adapter, 187.25), CTL_RESULT_ERROR_CORE_OVERCLOCK_POWER_OUTSIDE_RANGE);
        QCOMPARE(s->lastCall, "ctlOverclockPowerLimitSet");
        QCOMPARE(s->number, 187.25);

        QCOMPARE(ctlAllowPCIeLinkSpeedUpdate(adapter, true), CTL_RESULT_SUCCESS);
        QCOMPARE(s->flag, true);

        QCOMPARE(ctlCheckDriverVersion(adapter, 0x00010002u), CTL_RESULT_ERROR_UNSUPPORTED_VERSION);
        QCOMPARE(s->values[0], 0x00010002u);

        int32_t speed = 0;
        QCOMPARE(ctlFanGetState(fan, 9, &speed), CTL_RESULT_SUCCESS);
        QCOMPARE(s->values[0], 9u);
        QCOMPARE(speed, 1500);

        char buffer[17] = {};
        QCOMPARE(ctlLedSetState(led, buffer, 17), CTL_RESULT_ERROR_DATA_WRITE);
        QCOMPARE(s->pointers[1], static_cast<void *>(buffer));
        QCOMPARE(s->values[0], 17u);

        ctl_voltage_frequency_point_t point{};
        point.Size = sizeof point;
        point.Voltage = 1050.5;
        point.Frequency = 2850.0;
        QCOMPARE(ctlOverclockGpuLockSet(adapter, point), CTL_RESULT_SUCCESS);
        QCOMPARE(s->pointers[0], static_cast<void *>(adapter));
        QCOMPARE(s->point.Voltage, 1050.5);
        QCOMPARE(s->point.Frequency, 2850.0);
        QCOMPARE(s->point.Size, uint32_t(sizeof point));

        ctl_device_adapter_handle_t adapters[3] = {adapter, adapter, adapter};
        ctl_device_adapter_handle_t failed = nullptr;
        int genlock = 0;
        QCOMPARE(ctlGetSetDisplayGenlock(adapters, &genlock, 3, &failed), CTL_RESULT_ERROR_NOT_AVAILABLE);
        QCOMPARE(s->pointers[0], static_cast<void *>(adapters));
        QCOMPARE(s->pointers[1], static_cast<void *>(&genlock));
        QCOMPARE(s->values[0], 3u);
        QCOMPARE(s->pointers[2], static_cast<void *>(&failed));

        uint32_t count = 0;
        double points[4] = {};
        QCOMPARE(ctlOverclockReadVFCurve(adapter, 5, 6, &count, points), CTL_RESULT_SUCCESS);
        QCOMPARE(s->values[0], 5u);
        QCOMPARE(s->values[1], 6u);
        QCOMPARE(s->pointers[2], static_cast<void *>(points));
        QCOMPARE(count, 42u);

        // An entry point this library does not export.
        QCOMPARE(ctlEnumFans(adapter, &count, nullptr), CTL_RESULT_ERROR_NOT_INITIALIZED);
    }
};

QTEST_GUILESS_MAIN(CtlBindingTest)
#include "tst_ctl_binding.moc"
