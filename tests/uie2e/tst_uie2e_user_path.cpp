// A user's path through the finished program: the real program and the
// simulated card as separate processes on a virtual X server, driven with the
// pointer the way a user drives them. What the clicks send is read back from
// the card's transfer log; what the pages show is read from pictures of the
// window, which stay in the build folder for people to look at.

#include <QColor>
#include <QDir>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <functional>
#include <memory>
#include <optional>

namespace {

// Where things are in the 1440 x 810 window, from its layout: each page is
// centred in the window, the page switch is 65 pixels from the left edge.
constexpr int kArgbPageW = 905, kArgbPageH = 462;
constexpr int kMonitorPageW = 844, kMonitorPageH = 560;
constexpr int kSwitchX = 65, kSwitchH = 230;

// Centred items land on whole pixels, halves rounded up.
int centred(int outer, int inner) { return int(std::floor((outer - inner) / 2.0 + 0.5)); }

QStringList readLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

// The README's pictures are the window at half size in a 256-colour palette.
// A pixel differs from one when a channel is off by more than the palette's
// rounding; what may differ is the text of this machine's own facts and
// readings (processor, memory, clock, load, temperatures), a few percent of
// the window. A wrong theme, a missing panel or a moved page is far more.
constexpr int kChannelSlack = 48;
constexpr double kReadmeSlack = 0.03;

// The share of pixels of `window` that differ from the README picture `name`.
double unlikeReadme(const QImage &window, const QString &name)
{
    const QImage readme = QImage(QStringLiteral(SOURCE_DIR "/docs/screenshots/") + name + ".png")
                              .convertToFormat(QImage::Format_RGB32);
    if (readme.isNull() || window.isNull())
        return 1;
    const QImage shown = window.scaled(readme.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                             .convertToFormat(QImage::Format_RGB32);
    qint64 differing = 0;
    for (int y = 0; y < readme.height(); ++y) {
        const auto *a = reinterpret_cast<const QRgb *>(shown.constScanLine(y));
        const auto *b = reinterpret_cast<const QRgb *>(readme.constScanLine(y));
        for (int x = 0; x < readme.width(); ++x)
            differing += std::abs(qRed(a[x]) - qRed(b[x])) > kChannelSlack
                || std::abs(qGreen(a[x]) - qGreen(b[x])) > kChannelSlack
                || std::abs(qBlue(a[x]) - qBlue(b[x])) > kChannelSlack;
    }
    const double share = double(differing) / (qint64(readme.width()) * readme.height());
    qInfo("%s: %.4f of the pixels differ from the README's picture", qPrintable(name), share);
    return share;
}

bool containsInOrder(const QStringList &lines, const QStringList &wanted)
{
    int next = 0;
    for (const QString &line : lines)
        if (next < wanted.size() && line == wanted.at(next))
            ++next;
    return next == wanted.size();
}

// One lighting command as the card saw it: the first colour block's red (the
// block runs red, blue, green), then the effect and its speed byte.
struct LightingWrite {
    int red = -1;
    QString effect, speed;
};

std::optional<LightingWrite> lightingAfter(const QStringList &lines, int from)
{
    static const QRegularExpression effectWrite(QStringLiteral("^W 02 (0[1-9A-D]) ([0-9A-F]{2})$"));
    int red = -1;
    for (int i = from; i < lines.size(); ++i) {
        if (lines.at(i).startsWith(QLatin1String("W 03 20 ")))
            red = lines.at(i).mid(8, 2).toInt(nullptr, 16);
        const QRegularExpressionMatch m = effectWrite.match(lines.at(i));
        if (m.hasMatch() && red >= 0)
            return LightingWrite{red, m.captured(1), m.captured(2)};
    }
    return std::nullopt;
}

QByteArray run(const QString &program, const QStringList &args, const QProcessEnvironment &env,
               int timeoutMs = 15000)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForStarted() || !p.waitForFinished(timeoutMs))
        return p.kill(), p.waitForFinished(), QByteArray();
    return p.readAllStandardOutput();
}

double meanBrightness(const QImage &img)
{
    if (img.isNull())
        return -1;
    double sum = 0;
    for (int y = 0; y < img.height(); y += 2)
        for (int x = 0; x < img.width(); x += 2)
            sum += qGray(img.pixel(x, y));
    return sum / ((img.height() + 1) / 2 * ((img.width() + 1) / 2)) / 255.0;
}

} // namespace

class UserPathTest : public QObject {
    Q_OBJECT

    QTemporaryDir home;
    QString runtimeDir, sysfsDir, transferLog;
    QProcessEnvironment xEnv;
    // Every process is owned here, so a failing check still ends them all.
    std::unique_ptr<QProcess> xvfb, card, program;
    QByteArray programOutput;
    QString windowId;
    // The window keeps its first size on this display.
    const int windowW = 1440, windowH = 810;

    QProcessEnvironment programEnvironment(const QString &runtime, const QString &sysfs,
                                           const QString &tmp) const
    {
        QProcessEnvironment env = xEnv;
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.insert("TMPDIR", tmp);
        env.insert("CTL_SYSFS_ROOT", sysfs);
        return env;
    }

    static void stop(std::unique_ptr<QProcess> &p)
    {
        if (p && p->state() != QProcess::NotRunning) {
            p->terminate();
            if (!p->waitForFinished(10000))
                p->kill(), p->waitForFinished(5000);
        }
        p.reset();
    }

    QByteArray xdotool(const QStringList &args) { return run("xdotool", args, xEnv).trimmed(); }

    void click(int x, int y)
    {
        xdotool({"mousemove", "--window", windowId, QString::number(x), QString::number(y),
                 "click", "1"});
        // Hover colours must not end up in the pictures.
        xdotool({"mousemove", "--window", windowId, "4", "4"});
    }

    // A BMP: a PNG of the window takes ImageMagick seconds to compress.
    QImage grab()
    {
        const QString file = home.filePath("grab.bmp");
        QFile::remove(file);
        run("import", {"-window", windowId, file}, xEnv);
        return QImage(file).convertToFormat(QImage::Format_RGB32);
    }

    QImage keep(const QString &name)
    {
        const QImage img = grab();
        const QString path = QStringLiteral(PICTURE_DIR) + "/page-" + name + ".png";
        if (!img.isNull() && img.save(path))
            qInfo("saved %s", qPrintable(path));
        return img;
    }

    // Starts the program, waits until `ready` holds, then asks for its window
    // with a second start the way a user would.
    void startProgram(const QProcessEnvironment &env, const std::function<bool()> &ready)
    {
        programOutput.clear();
        program = std::make_unique<QProcess>();
        program->setProcessEnvironment(env);
        program->setProcessChannelMode(QProcess::MergedChannels);
        connect(program.get(), &QProcess::readyRead, this,
                [this] { programOutput += program->readAll(); });
        program->start(TARVELL_VORN, QStringList());
        QVERIFY(program->waitForStarted());
        QTRY_VERIFY2_WITH_TIMEOUT(ready(), programOutput.right(3000).constData(), 60000);
        run(TARVELL_VORN, {}, env, 30000);
        QVERIFY2(program->state() == QProcess::Running, programOutput.right(3000).constData());
        windowId.clear();
        QTRY_VERIFY_WITH_TIMEOUT(
            !(windowId = QString::fromUtf8(
                  xdotool({"search", "--onlyvisible", "--name", "^TARVELL VORN$"}).split('\n').value(0)))
                 .isEmpty(),
            20000);
    }

    int argbX() const { return centred(windowW, kArgbPageW); }
    int argbY() const { return centred(windowH, kArgbPageH); }
    int monitorX() const { return centred(windowW, kMonitorPageW); }
    int monitorY() const { return centred(windowH, kMonitorPageH); }
    // Centres of the three page labels.
    QPoint label(int row) const
    {
        const int top = centred(windowH, kSwitchH);
        const int y[] = {25, kSwitchH / 2, kSwitchH - 25};
        return {kSwitchX + 30 + 25, top + y[row]};
    }
    // Clicks a page label and waits until the switch's marker has slid to it,
    // so no picture catches the page change half-way.
    void openPage(int row)
    {
        click(label(row).x(), label(row).y());
        const int markerY[] = {20, 110, 200};
        const QPoint centre(kSwitchX + 6, centred(windowH, kSwitchH) + markerY[row] + 6);
        const QColor marker("#6B90D7");
        const auto arrived = [&] {
            const QColor c = grab().pixelColor(centre);
            return std::abs(c.red() - marker.red()) + std::abs(c.green() - marker.green())
                       + std::abs(c.blue() - marker.blue()) < 30;
        };
        QVERIFY2(QTest::qWaitFor(arrived, 10000), "the page switch's marker reaches the label");
    }

    // Line heights of the program's font, for the items that sit below text.
    QFont kanit(int pixels) const
    {
        static const int id = QFontDatabase::addApplicationFont(
            QStringLiteral(SOURCE_DIR "/qml/font/Kanit-Regular.ttf"));
        QFont f(QFontDatabase::applicationFontFamilies(id).value(0));
        f.setPixelSize(pixels);
        return f;
    }
    int lineHeight(int pixels) const { return int(std::ceil(QFontMetricsF(kanit(pixels)).height())); }

    std::optional<LightingWrite> waitForLighting(int mark)
    {
        std::optional<LightingWrite> seen;
        (void)QTest::qWaitFor([&] { return bool(seen = lightingAfter(readLines(transferLog), mark)); }, 20000);
        return seen;
    }

    // A card of the given faults on a runtime folder and log of its own;
    // the program is started afresh against it and waits out the loading screen.
    void startWithCard(const QString &name, const QStringList &faults)
    {
        stop(program);
        stop(card);
        runtimeDir = home.filePath("run-" + name);
        sysfsDir = runtimeDir + "/sysfs";
        transferLog = home.filePath(name + "-transfers.log");
        QVERIFY(QDir().mkpath(runtimeDir));
        QFile::setPermissions(runtimeDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        startCard(faults);
        startProgram(programEnvironment(runtimeDir, sysfsDir, home.filePath("tmp")),
                     [&] { return programOutput.contains("EnumerateDevices returned 1 adapters"); });
        const QColor loading("#162955");
        const auto loadingGone = [this, &loading] {
            const QImage shot = grab();
            return !shot.isNull() && shot.pixelColor(20, 20) != loading;
        };
        // A window just mapped can stand unpainted for a moment before the
        // loading screen's first frame: the screen is gone when two looks in a
        // row find it gone.
        QVERIFY2(QTest::qWaitFor([&] { return loadingGone() && (QTest::qWait(300), loadingGone()); }, 90000),
                 "the loading screen ends");
        // The start-up restore's transfers and replies come before any click.
        QTRY_VERIFY2_WITH_TIMEOUT(programOutput.contains("Saved lighting and fan sent"),
                                  programOutput.right(2000).constData(), 60000);
    }

    void startCard(const QStringList &faults)
    {
        stop(card);
        QStringList args{"--runtime-dir", runtimeDir, "--sysfs", sysfsDir, "--log", transferLog};
        for (const QString &f : faults)
            args << "--fault" << f;
        card = std::make_unique<QProcess>();
        card->setProcessEnvironment(programEnvironment(runtimeDir, sysfsDir, home.filePath("tmp")));
        card->setProcessChannelMode(QProcess::MergedChannels);
        card->start(CARD_SIM, args);
        QVERIFY(card->waitForStarted());
        QByteArray said;
        QTRY_VERIFY2_WITH_TIMEOUT((said += card->readAll()).contains("serving"), said.constData(), 20000);
    }

    // The dimming overlay covers the window: most of it turns near black.
    bool overlayShown(double pagesMean) { return meanBrightness(grab()) < pagesMean * 0.5; }

    // The fan panel's column: caption, presets, description, "Apply".
    QPoint fanButton(int preset)
    {
        const int caption = lineHeight(20), description = lineHeight(14);
        const int columnH = caption + 15 + 30 + 15 + description + 15 + 30;
        const int panelX = monitorX() + 267, panelY = monitorY() + 40 + 122 + 8 + 184 + 8;
        const int columnX = panelX + (760 - 640) / 2, columnY = panelY + (199 - columnH) / 2;
        const int presetsY = columnY + caption + 15;
        if (preset < 0)
            return {columnX + 40, presetsY + 30 + 15 + description + 15 + 15};   // "Apply"
        const int widths[] = {75, 75, 80, 75, 85};   // Default, Silent, Medium, Turbo, Full Speed
        int x = columnX;
        for (int i = 0; i < preset; ++i)
            x += widths[i] + 10;
        return {x + widths[preset] / 2, presetsY + 15};
    }

    QPoint staticEffect() const { return {argbX() + 40 + 114 + 53, argbY() + 114 + 60 + 47}; }

private slots:
    void initTestCase()
    {
        for (const char *tool : {"Xvfb", "xdotool", "import"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(tool)));
        QVERIFY2(QFile::exists(CONTROL_LIBRARY),
                 "the stand-in control library is not built");
        QVERIFY(home.isValid());
        QVERIFY(QDir().mkpath(PICTURE_DIR));

        xvfb = std::make_unique<QProcess>();
        xvfb->start("Xvfb", {"-displayfd", "1", "-screen", "0", "1600x900x24", "-nolisten", "tcp"});
        QVERIFY(xvfb->waitForStarted());
        QByteArray display;
        QTRY_VERIFY_WITH_TIMEOUT((display += xvfb->readAllStandardOutput()).contains('\n'), 20000);
        for (const QString &dir : {home.filePath("tmp"), home.filePath("data"),
                                   home.filePath("config"), home.filePath("cache")})
            QVERIFY(QDir().mkpath(dir));

        // A user of our own on a display of our own: nothing of the real user's
        // is read or written, and no other running instance is reached.
        xEnv = QProcessEnvironment::systemEnvironment();
        xEnv.insert("DISPLAY", ":" + QString::fromUtf8(display.trimmed()));
        xEnv.insert("HOME", home.path());
        xEnv.insert("XDG_DATA_HOME", home.filePath("data"));
        xEnv.insert("XDG_CONFIG_HOME", home.filePath("config"));
        xEnv.insert("XDG_CACHE_HOME", home.filePath("cache"));
        xEnv.insert("LIBGL_ALWAYS_SOFTWARE", "1");
        xEnv.remove("QT_QPA_PLATFORM");
        xEnv.remove("QT_QUICK_BACKEND");
    }

    void cleanupTestCase()
    {
        stop(program);
        stop(card);
        stop(xvfb);
    }

    void clicksReachTheCard()
    {
        startWithCard("sound", {});
        QVERIFY(unlikeReadme(keep("argb-dark"), "argb-dark") <= kReadmeSlack);
        int mark = readLines(transferLog).size();
        click(staticEffect().x(), staticEffect().y());
        const std::optional<LightingWrite> sent = waitForLighting(mark);
        QVERIFY2(sent, qPrintable(readLines(transferLog).mid(mark).join('\n')));
        QCOMPARE(sent->effect, QStringLiteral("01"));
        // The colour and speed restored at start travel with the new effect.
        QCOMPARE(sent->speed, QStringLiteral("FE"));
        QCOMPARE(sent->red, 0xFB);

        // A hue a little short of green, then a point high on the square's
        // right: about 162 red; neighbouring pixels move it by a few.
        const int colours = argbX() + 654, coloursTop = argbY() + 114;
        mark = readLines(transferLog).size();
        click(colours + 48 + 6, coloursTop + 62 + 7 + 30);
        QVERIFY2(waitForLighting(mark), "the hue's own change reaches the card first");
        mark = readLines(transferLog).size();
        click(colours + 73 + 100, coloursTop + 62 + 20);
        const std::optional<LightingWrite> picked = waitForLighting(mark);
        QVERIFY2(picked, qPrintable(readLines(transferLog).mid(mark).join('\n')));
        QVERIFY2(std::abs(picked->red - 162) <= 8, qPrintable(QString::number(picked->red)));

        openPage(0);
        mark = readLines(transferLog).size();
        click(fanButton(3).x(), fanButton(3).y());   // "Turbo"
        click(fanButton(-1).x(), fanButton(-1).y());
        QTRY_VERIFY2_WITH_TIMEOUT(
            containsInOrder(readLines(transferLog).mid(mark), {"W 02 80 00", "W 00 D8 10", "W 01 4B"}),
            qPrintable(readLines(transferLog).mid(mark).join('\n')), 20000);
        // The row of readings (clock, load, temperatures) changes as telemetry arrives.
        const QRect readings(monitorX(), monitorY() + 40 + 122 + 8, 1030, 184);
        const QImage monitor = keep("monitor-dark");
        QVERIFY(unlikeReadme(monitor, "monitor-dark") <= kReadmeSlack);
        const QImage first = monitor.copy(readings);
        const auto moved = [&] {
            const QImage now = grab().copy(readings);
            int n = 0;
            for (int y = 0; y < now.height() && now.size() == first.size(); ++y)
                for (int x = 0; x < now.width(); ++x)
                    n += qGray(now.pixel(x, y)) != qGray(first.pixel(x, y));
            return n >= 40;
        };
        QTRY_VERIFY_WITH_TIMEOUT(moved(), 30000);
    }

    // The same choices with the keyboard alone. The page switch is read first,
    // then the page; Shift+Tab from the first label wraps round to the last
    // control, the fan's "Apply".
    void keyboardOnlyPath()
    {
        startWithCard("keys", {});
        const auto keys = [this](const QStringList &names) {
            xdotool(QStringList{"windowfocus", "--sync", windowId, "key", "--delay", "40"} + names);
        };
        const auto times = [](int n, const QString &key) { return QVector<QString>(n, key).toList(); };
        const QStringList sevenBack = times(7, "shift+Tab");
        int mark = readLines(transferLog).size();
        // Monitor, ARGB, Setting, GPU RGB, Default Mode, Sync Motherboard,
        // Color Cycling; one step right is Static.
        keys(times(7, "Tab") << "Right" << "space");
        const std::optional<LightingWrite> sent = waitForLighting(mark);
        QVERIFY2(sent, qPrintable(readLines(transferLog).mid(mark).join('\n')));
        QCOMPARE(sent->effect, QStringLiteral("01"));

        mark = readLines(transferLog).size();
        keys(sevenBack + QStringList{"Return", "Tab", "Tab", "Tab", "Right", "Right", "Right", "space"}
             + sevenBack + QStringList{"Return"});
        QTRY_VERIFY2_WITH_TIMEOUT(
            containsInOrder(readLines(transferLog).mid(mark), {"W 02 80 00", "W 00 D8 10", "W 01 4B"}),
            qPrintable(readLines(transferLog).mid(mark).join('\n')), 20000);
    }

    // Every request fails on the card: the fan Apply says so and can be left.
    void failedFanApplyShowsTheNotice()
    {
        startWithCard("failing", {"error=31"});
        openPage(0);
        const double pagesMean = meanBrightness(grab());
        click(fanButton(3).x(), fanButton(3).y());
        click(fanButton(-1).x(), fanButton(-1).y());
        QTRY_VERIFY2_WITH_TIMEOUT(overlayShown(pagesMean), programOutput.right(2000).constData(), 20000);
        QVERIFY(programOutput.contains("I2C_Fan_Control fail !"));
        keep("fan-failed-dark");
        // The notice's close button, 5 pixels in from its top-right corner.
        click(centred(windowW, 389) + 389 - 21, centred(windowH, 115) + 21);
        QTRY_VERIFY_WITH_TIMEOUT(!overlayShown(pagesMean), 10000);
    }

    // The card vanishes during the start-up restore: the driver dialog comes
    // up, closes, and once the card is back a lighting change reaches it.
    void driverDialogClosesAndTheCardIsTriedAgain()
    {
        startWithCard("vanishing", {"vanish-after=1"});
        QTRY_VERIFY2_WITH_TIMEOUT(meanBrightness(grab().copy(0, 0, 100, windowH)) < 0.05, "the overlay is up", 20000);
        keep("driver-dialog-dark");
        click(centred(windowW, 860) + 860 - 21, centred(windowH, 480) + 21);
        QTRY_VERIFY_WITH_TIMEOUT(meanBrightness(grab().copy(0, 0, 100, windowH)) > 0.05, 10000);

        transferLog = home.filePath("returned-transfers.log");
        startCard({});
        const int mark = 0;
        click(staticEffect().x(), staticEffect().y());
        const std::optional<LightingWrite> sent = waitForLighting(mark);
        QVERIFY2(sent, qPrintable(programOutput.right(2000)));
        QCOMPARE(sent->effect, QStringLiteral("01"));
    }
};

QTEST_MAIN(UserPathTest)
#include "tst_uie2e_user_path.moc"
