// Real sysfs captures of Arc cards, and variants of them for the kernels the
// program meets, replayed through the stand-in library, the program's own GPU
// cycle and the Monitor page's reading of the dictionary. Each case is a
// recipe in replay/: how to build the tree from a capture, what changes
// between the two cycles, and what the dictionary and the page must hold.
#include "standin.h"

#include "gpu/gpu_information.h"

#include <QElapsedTimer>
#include <QJSEngine>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

using namespace testing;

namespace {

struct Recipe {
    QStringList setup, later; // tree directives before the first cycle, before the second
    QList<QPair<QString, QString>> expect, page;
};

Recipe parseRecipe(const QString &path)
{
    Recipe r;
    QStringList *steps = &r.setup;
    for (QString line : QString::fromUtf8(readFile(path)).split('\n')) {
        line = line.trimmed();
        const QString word = line.section(' ', 0, 0), rest = line.section(' ', 1);
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (word == "then") { // the second stage works in the same folder
            const QStringList bases = r.setup.filter(QRegularExpression("^base "));
            r.later = bases.mid(bases.size() - 1);
            steps = &r.later;
        } else if (word == "expect" || word == "page")
            (word == "expect" ? r.expect : r.page) << qMakePair(rest.section(' ', 0, 0), rest.section(' ', 1));
        else
            *steps << line;
    }
    return r;
}

// Paths are under the tree's root, or under the folder "base" named last.
// Counters "advance" at a rate per second of the time since the first cycle.
bool apply(const QStringList &steps, const QString &root, double elapsed)
{
    QString base = root;
    for (const QString &step : steps) {
        const QStringList w = step.split(' ');
        const QString path = base + '/' + w.value(1), text = step.section(' ', 2).replace("\\n", "\n");
        bool ok = w.size() >= 2;
        if (w[0] == "capture")
            ok = copyTree(capture(qPrintable(w[1])), root);
        else if (w[0] == "base")
            base = root + '/' + w[1];
        else if (w[0] == "remove")
            ok = QFileInfo(path).isDir() ? QDir(path).removeRecursively() : QFile::remove(path);
        else if (w[0] == "move")
            ok = QDir().rename(path, base + '/' + w.value(2));
        else if (w[0] == "write")
            ok = writeFile(path, text.toUtf8() + '\n');
        else if (w[0] == "link")
            ok = QDir().mkpath(QFileInfo(path).absolutePath()) && QFile::link(w.value(2), path);
        else if (w[0] == "advance") // the counter grows at a rate per second
            ok = writeFile(path, QByteArray::number(qint64(readFile(path).trimmed().toDouble()
                                                           + w.value(2).toDouble() * elapsed)) + '\n');
        else if (w[0] == "fdinfo") { // fdinfo PID FD TEXT: a process holding a DRM node
            const QString proc = root + "/proc/" + w.value(1);
            QFile::remove(proc + "/fd/" + w.value(2));
            ok = QDir().mkpath(proc + "/fd") && QFile::link("/dev/dri/renderD128", proc + "/fd/" + w.value(2))
                 && writeFile(proc + "/fdinfo/" + w.value(2), step.section(' ', 3).replace("\\n", "\n").toUtf8());
        } else
            ok = false;
        if (!ok) {
            qWarning() << "cannot apply" << step;
            return false;
        }
    }
    return true;
}

// "--" is a reading the card does not report; "~N" a rate within 8 %; text
// in quotes is taken as it stands, trailing spaces and all.
bool matches(const QVariant &v, const QString &expected)
{
    if (expected == "--")
        return v.userType() == QMetaType::Nullptr;
    if (expected.startsWith('~')) {
        const double want = expected.mid(1).toDouble();
        return v.isValid() && !v.isNull() && std::abs(v.toDouble() - want) <= 0.08 * want + 0.5;
    }
    if (v.type() == QVariant::Double)
        return v.toDouble() == expected.toDouble();
    const bool quoted = expected.size() >= 2 && expected.startsWith('"') && expected.endsWith('"');
    return v.toString() == (quoted ? expected.mid(1, expected.size() - 2) : expected);
}

// What the Monitor page shows for one monitoring reply: its own reading of
// the dictionary (Telemetry.js) applied to a fresh page's fields.
QVariantMap pageShows(const QVariantMap &facts)
{
    QJSEngine js;
    QString source = QString::fromUtf8(readFile(TV_TELEMETRY_JS));
    source.replace(".pragma library", "");
    js.evaluate(source, TV_TELEMETRY_JS);
    QVariantMap fields{{"fanSpeed", 0}, {"fanSpeedKnown", true}, {"board_Power", 0}, {"boardPowerKnown", true}};
    const QJSValue updates = js.globalObject().property("read").call({js.toScriptValue(facts), "deviceName"});
    for (int i = 0; i < updates.property("length").toInt(); ++i)
        fields[updates.property(i).property("field").toString()] = updates.property(i).property("value").toVariant();
    // The two number fields say "--" through the flag beside them.
    for (const auto &[field, flag] : {std::pair{"fanSpeed", "fanSpeedKnown"}, {"board_Power", "boardPowerKnown"}})
        if (!fields[flag].toBool())
            fields[field] = js.globalObject().property("NotAvailable").toString();
    return fields;
}

// The binding forgets the runtime path at every close.
struct RuntimePath {
    std::wstring path = QString::fromUtf8(TV_STANDIN_PATH).toStdWString();
    ctl_runtime_path_args_t args{sizeof(ctl_runtime_path_args_t), 0, {}, path.data()};
    void set() { ctlSetRuntimePath(&args); }
};

} // namespace

class TestReplay : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules("*.debug=false"); }

    void recipes_data()
    {
        QTest::addColumn<QString>("recipe");
        const QFileInfoList files = QDir(TV_REPLAY_DIR).entryInfoList({"*.txt"}, QDir::Files, QDir::Name);
        QVERIFY(files.size() >= 8);
        for (const QFileInfo &f : files)
            QTest::newRow(qPrintable(f.completeBaseName())) << f.filePath();
    }
    void recipes()
    {
        QFETCH(QString, recipe);
        const Recipe r = parseRecipe(recipe);
        QTemporaryDir tmp;
        QVERIFY(QDir().mkpath(tmp.path() + "/proc")); // never the real /proc
        QVERIFY(apply(r.setup, tmp.path(), 0));
        SysfsRoot root(tmp.path());
        qputenv("CTL_PROC_ROOT", QFile::encodeName(tmp.path() + "/proc"));

        gpu::GpuInformation info;
        QVariantMap facts, reply;
        RuntimePath runtime;
        QElapsedTimer clock;
        clock.start();
        runtime.set();
        info.refresh(facts, reply);
        QThread::msleep(600);
        QVERIFY(apply(r.later, tmp.path(), clock.elapsed() / 1000.0));
        runtime.set();
        info.refresh(facts, reply);
        qunsetenv("CTL_PROC_ROOT");
        // As the worker publishes them.
        facts["PsysPower"] = gpu::reading(info.rates().boardPower);
        facts["gpuChipPower"] = gpu::reading(info.rates().chipPower);
        facts["GPU_Utilization"] = gpu::reading(info.rates().utilisation * 100.0);
        facts["GPU_count"] = reply.value("GPU_count");

        for (const auto &e : r.expect)
            QVERIFY2(matches(facts.value(e.first), e.second),
                     qPrintable(e.first + ": " + facts.value(e.first).toString() + ", expected " + e.second));
        const QVariantMap shown = pageShows(facts);
        QStringList table;
        for (const auto &p : r.page) {
            const QVariant v = shown.value(p.first);
            table << p.first + "=" + v.toString();
            QVERIFY2(p.second.startsWith('~') ? matches(v.toDouble(), p.second) : v.toString() == p.second,
                     qPrintable(p.first + " shows " + v.toString() + ", expected " + p.second));
        }
        qInfo().noquote() << "page:" << table.join(' ');
    }
};

QTEST_GUILESS_MAIN(TestReplay)
#include "tst_replay.moc"
