// The binding with the scripted library installed in its system directory.
#include "tests/gpu/binding_helpers.h"

#include <QFile>
#include <QtTest>

class CtlSystemDirectoryTest : public QObject {
    Q_OBJECT
    void *fakeHandle = nullptr;
    FakeCtlScenario *s = nullptr;

private slots:
    void initTestCase()
    {
        QVERIFY(QFile::exists(QStringLiteral(TV_CTL_LIBDIR "/libControlLib.so")));
        s = openScenario(TV_CTL_LIBDIR "/libControlLib.so", &fakeHandle);
        QVERIFY2(s, dlerror());
    }
    void init() { *s = FakeCtlScenario{}; }
    void cleanup() { unloadBinding(s); }
    void cleanupTestCase() { dlclose(fakeHandle); }

    void versionTwoIsRefusedThoughTheLibraryIsThere()
    {
        ctl_init_args_t args = initArgs(ctlMakeVersion(2, 0));
        ctl_api_handle_t api = nullptr;
        QCOMPARE(ctlInit(&args, &api), CTL_RESULT_ERROR_UNSUPPORTED_VERSION);
        QCOMPARE(s->initCalls, 0);
        ctl_pci_state_t state{};
        QCOMPARE(ctlPciGetState(nullptr, &state), CTL_RESULT_ERROR_NOT_INITIALIZED);
    }

    void defaultLoadComesFromTheSystemDirectory()
    {
        ctl_init_args_t args = initArgs(ctlMakeVersion(1, 1));
        ctl_api_handle_t api = nullptr;
        QCOMPARE(ctlInit(&args, &api), CTL_RESULT_SUCCESS);
        QCOMPARE(s->initCalls, 1);
        QCOMPARE(s->setRuntimePathCalls, 0); // nothing recorded, nothing handed over
        QCOMPARE(s->initArgs.AppVersion, 0x00010001u);
        QCOMPARE(api, fakeApiHandle(s));
        QCOMPARE(ctlClose(api), CTL_RESULT_SUCCESS);
        QCOMPARE(s->closeCalls, 1);
        ctl_pci_state_t state{};
        QCOMPARE(ctlPciGetState(nullptr, &state), CTL_RESULT_ERROR_NOT_INITIALIZED);
    }
};

QTEST_GUILESS_MAIN(CtlSystemDirectoryTest)
#include "tst_ctl_sysdir.moc"
