// A user's path through the finished program: the real program and the
// simulated card as separate processes on a virtual X server, driven with the
// pointer the way a user drives them. What the clicks send is read back from
// the card's transfer log; what the pages show is read from pictures of the
// window, which stay in the build folder for people to look at.

#include <QColor>
#include <QDir>
#include <QDeadlineTimer>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>

namespace {

// Where things are in the 1440 x 810 window, from its layout: each page is
// centred in the window, the page switch is 65 pixels from the left edge.
constexpr int kArgbPageW = 905, kArgbPageH = 462;
constexpr int kMonitorPageW = 844, kMonitorPageH = 560;
constexpr int kSettingPageW = 861, kSettingPageH = 550;
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

bool containsInOrder(const QStringList &lines, const QStringList &wanted)
{
    int next = 0;
    for (const QString &line : lines)
        if (next < wanted.size() && line == wanted.at(next))
            ++next;
    return next == wanted.size();
}

struct Rgb {
    int r = -1, g = -1, b = -1;
};

// One lighting command as the card saw it: the colour block, the effect and
// its speed byte.
struct LightingWrite {
    QString colourLine;
    Rgb colour;
    QString effect, speed;
};

// The colour block carries ten identical triples in red, blue, green order.
std::optional<Rgb> colourOf(const QString &line)
{
    static const QRegularExpression block(QStringLiteral("^W 03 20((?: [0-9A-F]{2}){30})$"));
    const QRegularExpressionMatch m = block.match(line);
    if (!m.hasMatch())
        return std::nullopt;
    const QStringList bytes = m.captured(1).split(' ', Qt::SkipEmptyParts);
    for (int i = 3; i < bytes.size(); ++i)
        if (bytes.at(i) != bytes.at(i % 3))
            return std::nullopt;
    return Rgb{bytes.at(0).toInt(nullptr, 16), bytes.at(2).toInt(nullptr, 16),
               bytes.at(1).toInt(nullptr, 16)};
}

// The first complete lighting command in `lines` from `from` on.
std::optional<LightingWrite> lightingAfter(const QStringList &lines, int from)
{
    static const QRegularExpression effectWrite(QStringLiteral("^W 02 (0[1-9A-D]) ([0-9A-F]{2})$"));
    QString colourLine;
    for (int i = from; i < lines.size(); ++i) {
        if (lines.at(i).startsWith(QLatin1String("W 03 20 ")))
            colourLine = lines.at(i);
        const QRegularExpressionMatch m = effectWrite.match(lines.at(i));
        if (m.hasMatch() && !colourLine.isEmpty()) {
            const std::optional<Rgb> colour = colourOf(colourLine);
            return LightingWrite{colourLine, colour.value_or(Rgb{}), m.captured(1), m.captured(2)};
        }
    }
    return std::nullopt;
}

QByteArray run(const QString &program, const QStringList &args, const QProcessEnvironment &env,
               int timeoutMs = 15000)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForStarted() || !p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
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

// Pixels that differ clearly between two pictures of the same size.
int differingPixels(const QImage &a, const QImage &b)
{
    if (a.isNull() || a.size() != b.size())
        return -1;
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            if (std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q))
                    + std::abs(qBlue(p) - qBlue(q)) > 60)
                ++n;
        }
    return n;
}

// Pixels clearly brighter than the panel under them: drawn text.
int textPixels(const QImage &img)
{
    QVector<int> greys;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            greys << qGray(img.pixel(x, y));
    if (greys.isEmpty())
        return 0;
    std::nth_element(greys.begin(), greys.begin() + greys.size() / 2, greys.end());
    const int median = greys.at(greys.size() / 2);
    return int(std::count_if(greys.begin(), greys.end(),
                             [median](int g) { return std::abs(g - median) > 80; }));
}

QColor pickerColour(int knobPointerY, int squareX, int squareY)
{
    const auto knob = [](int p) { return std::max(0, std::min(116, p + 7) - 14); };
    const auto cursor = [](int p) { return std::max(2, std::min(130, p + 7) - 14); };
    return QColor::fromHsvF(knob(knobPointerY) / 102.0, cursor(squareX) / 116.0,
                            1.0 - cursor(squareY) / 116.0);
}

} // namespace

class UserPathTest : public QObject {
    Q_OBJECT

    QTemporaryDir home;
    QString runtimeDir, sysfsDir, transferLog, settingsFile;
    QProcessEnvironment xEnv;
    // Every process is owned here, so a failing check still ends them all.
    std::unique_ptr<QProcess> xvfb, card, program;
    QByteArray programOutput;
    QString windowId;
    int windowW = 0, windowH = 0;

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
        if (!p)
            return;
        if (p->state() != QProcess::NotRunning) {
            p->terminate();
            if (!p->waitForFinished(10000)) {
                p->kill();
                p->waitForFinished(5000);
            }
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

    QImage grab()
    {
        const QString file = home.filePath("grab.png");
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
        const QByteArray geometry = xdotool({"getwindowgeometry", "--shell", windowId});
        for (const QByteArray &line : geometry.split('\n')) {
            if (line.startsWith("WIDTH="))
                windowW = line.mid(6).toInt();
            if (line.startsWith("HEIGHT="))
                windowH = line.mid(7).toInt();
        }
        QVERIFY2(windowW >= 1340 && windowH >= 710, geometry.constData());
    }

    int argbX() const { return centred(windowW, kArgbPageW); }
    int argbY() const { return centred(windowH, kArgbPageH); }
    int monitorX() const { return centred(windowW, kMonitorPageW); }
    int monitorY() const { return centred(windowH, kMonitorPageH); }
    int settingX() const { return centred(windowW, kSettingPageW); }
    int settingY() const { return centred(windowH, kSettingPageH); }
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

    // Line heights and widths of the program's font, for the items that sit
    // below or beside text.
    QFont kanit(int pixels, bool bold = false) const
    {
        static const int id = QFontDatabase::addApplicationFont(
            QStringLiteral(SOURCE_DIR "/qml/font/Kanit-Regular.ttf"));
        QFont f(QFontDatabase::applicationFontFamilies(id).value(0));
        f.setPixelSize(pixels);
        f.setBold(bold);
        return f;
    }
    int lineHeight(int pixels) const { return int(std::ceil(QFontMetricsF(kanit(pixels)).height())); }

    std::optional<LightingWrite> waitForLighting(int mark)
    {
        std::optional<LightingWrite> seen;
        const auto arrived = [&] { return bool(seen = lightingAfter(readLines(transferLog), mark)); };
        if (!QTest::qWaitFor(arrived, 20000))
            return std::nullopt;
        return seen;
    }

private slots:
    void initTestCase()
    {
        for (const char *tool : {"Xvfb", "xdotool"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(tool)));
        QVERIFY2(!QStandardPaths::findExecutable("import").isEmpty(),
                 "ImageMagick's import is needed for the pictures");
        QVERIFY2(QFile::exists(CONTROL_LIBRARY),
                 "the stand-in control library is not installed; run cmake --install first");
        QVERIFY(home.isValid());
        QVERIFY(QDir().mkpath(PICTURE_DIR));

        xvfb = std::make_unique<QProcess>();
        xvfb->start("Xvfb", {"-displayfd", "1", "-screen", "0", "1600x900x24", "-nolisten", "tcp"});
        QVERIFY(xvfb->waitForStarted());
        QByteArray display;
        QTRY_VERIFY_WITH_TIMEOUT((display += xvfb->readAllStandardOutput()).contains('\n'), 20000);

        runtimeDir = home.filePath("run");
        sysfsDir = runtimeDir + "/sysfs";
        transferLog = home.filePath("transfers.log");
        settingsFile = home.filePath("data/tarvell-vorn/userData.json");
        for (const QString &dir : {runtimeDir, home.filePath("tmp"), home.filePath("data"),
                                   home.filePath("config"), home.filePath("cache")})
            QVERIFY(QDir().mkpath(dir));
        QFile::setPermissions(runtimeDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

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

        card = std::make_unique<QProcess>();
        card->setProcessEnvironment(programEnvironment(runtimeDir, sysfsDir, home.filePath("tmp")));
        card->setProcessChannelMode(QProcess::MergedChannels);
        card->start(CARD_SIM, {"--runtime-dir", runtimeDir, "--sysfs", sysfsDir, "--log", transferLog});
        QVERIFY(card->waitForStarted());
        QByteArray said;
        QTRY_VERIFY2_WITH_TIMEOUT((said += card->readAll()).contains("serving"), said.constData(),
                                  20000);

        // Ready once the saved choices have been restored on the card: the
        // last of them hands the fan back to the GPU.
        const int before = readLines(transferLog).size();
        startProgram(programEnvironment(runtimeDir, sysfsDir, home.filePath("tmp")), [&] {
            return containsInOrder(readLines(transferLog).mid(before),
                                   {"W 02 05 FE", "W 02 81 00", "W 02 80 01"});
        });
    }

    void cleanupTestCase()
    {
        stop(program);
        stop(card);
        stop(xvfb);
    }

    void effectButtonSendsItsEffect()
    {
        const QImage argb = keep("argb-dark");
        QVERIFY(!argb.isNull());
        // "Static" is the second button of the first row of the effects panel.
        const int mark = readLines(transferLog).size();
        click(argbX() + 40 + 114 + 53, argbY() + 114 + 60 + 47);
        const std::optional<LightingWrite> sent = waitForLighting(mark);
        QVERIFY2(sent, qPrintable(readLines(transferLog).mid(mark).join('\n')));
        QCOMPARE(sent->effect, QStringLiteral("01"));
        // The colour and speed restored at start travel with the new effect.
        QCOMPARE(sent->speed, QStringLiteral("FE"));
        QCOMPARE(sent->colour.r, 0xFB);
        QCOMPARE(sent->colour.g, 0);
        QCOMPARE(sent->colour.b, 0);
    }

    void colourPickerSendsThePickedColour()
    {
        const int colours = argbX() + 654, coloursTop = argbY() + 114;
        // A hue a little short of green, then a point high on the square's right.
        const int hueY = 30, squareX = 100, squareY = 20;
        int mark = readLines(transferLog).size();
        click(colours + 48 + 6, coloursTop + 62 + 7 + hueY);
        QVERIFY2(waitForLighting(mark), "a hue click sends a lighting command");

        mark = readLines(transferLog).size();
        click(colours + 73 + squareX, coloursTop + 62 + squareY);
        const std::optional<LightingWrite> sent = waitForLighting(mark);
        QVERIFY2(sent, qPrintable(readLines(transferLog).mid(mark).join('\n')));
        QCOMPARE(sent->effect, QStringLiteral("01"));
        QVERIFY2(sent->colour.r >= 0, qPrintable("ten equal triples expected: " + sent->colourLine));

        // The window may place the page half a pixel either way: accept the
        // colours of the neighbouring pointer positions, nothing else.
        bool matched = false;
        QStringList candidates;
        for (int dh : {-1, 0, 1})
            for (int dx : {-1, 0, 1})
                for (int dy : {-1, 0, 1}) {
                    const QColor c = pickerColour(hueY + dh, squareX + dx, squareY + dy);
                    candidates << c.name();
                    matched = matched
                        || (std::abs(c.red() - sent->colour.r) <= 2
                            && std::abs(c.green() - sent->colour.g) <= 2
                            && std::abs(c.blue() - sent->colour.b) <= 2);
                }
        QVERIFY2(matched, qPrintable(QStringLiteral("card got r%1 g%2 b%3 (%4), picked one of %5")
                                         .arg(sent->colour.r).arg(sent->colour.g)
                                         .arg(sent->colour.b).arg(sent->colourLine)
                                         .arg(candidates.join(' '))));
        // The short block of five carries the same colour.
        const QStringList after = readLines(transferLog).mid(mark);
        QStringList five;
        for (int i = 0; i < 5; ++i)
            five << sent->colourLine.mid(8, 8);
        QVERIFY2(std::any_of(after.begin(), after.end(),
                             [&](const QString &l) {
                                 return l == "W 03 11 " + five.join(' ');
                             }),
                 qPrintable(after.join('\n')));
    }

    void fanPresetAndApplyReachTheCard()
    {
        openPage(0);
        // The fan panel's column: caption, presets, description, "Apply".
        const int caption = lineHeight(20), description = lineHeight(14);
        const int columnH = caption + 15 + 30 + 15 + description + 15 + 30;
        const int panelX = monitorX() + 267, panelY = monitorY() + 40 + 122 + 8 + 184 + 8;
        const int columnX = panelX + (760 - 640) / 2, columnY = panelY + (199 - columnH) / 2;
        const int presetsY = columnY + caption + 15;
        const int mark = readLines(transferLog).size();
        click(columnX + 75 + 10 + 75 + 10 + 80 + 10 + 37, presetsY + 15);   // "Turbo"
        click(columnX + 40, presetsY + 30 + 15 + description + 15 + 15);   // "Apply"
        QTRY_VERIFY2_WITH_TIMEOUT(
            containsInOrder(readLines(transferLog).mid(mark), {"W 02 80 00", "W 00 D8 10", "W 01 4B"}),
            qPrintable(readLines(transferLog).mid(mark).join('\n')), 20000);
        // The choice is kept for the next start.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(settingsFile), 10000);
        QTRY_VERIFY2_WITH_TIMEOUT(
            QJsonDocument::fromJson([&] {
                QFile f(settingsFile);
                return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
            }()).array().at(0).toObject().value("fanSpeed").toInt() == 75,
            "the settings file holds the Turbo duty", 10000);
    }

    void monitorPageShowsMovingTelemetry()
    {
        // The row of readings: clock, utilisation and the two temperatures.
        const QRect readings(monitorX(), monitorY() + 40 + 122 + 8, 1030, 184);
        const QImage first = grab().copy(readings);
        QVERIFY(!first.isNull());
        QVERIFY2(textPixels(first) > 500, "the readings panel shows values");
        QImage later;
        const QDeadlineTimer deadline(30000);
        int changed = 0;
        while (!deadline.hasExpired() && changed < 40) {
            QTest::qWait(1000);
            later = grab().copy(readings);
            changed = differingPixels(first, later);
        }
        QVERIFY2(changed >= 40, qPrintable(QString::number(changed)));
        keep("monitor-dark");
    }

    void themeSwitchRepaintsEveryPage()
    {
        openPage(2);
        const QImage dark = keep("setting-dark");
        QVERIFY(!dark.isNull());
        const double darkMean = meanBrightness(dark);

        // The switch sits 120 pixels right of "Display Theme", below the title.
        const int captionW = int(std::ceil(QFontMetricsF(kanit(16, true)).horizontalAdvance("Display Theme")));
        const int rowY = settingY() + 45 + lineHeight(24) + 10;
        const int rowH = std::max(20, int(std::ceil(QFontMetricsF(kanit(16, true)).height())));
        click(settingX() + 138 + captionW + 120 + 22, rowY + rowH / 2);

        QImage light;
        QTRY_VERIFY2_WITH_TIMEOUT(meanBrightness(light = grab()) > darkMean + 0.2,
                                  qPrintable(QStringLiteral("dark %1, now %2")
                                                 .arg(darkMean).arg(meanBrightness(light))),
                                  10000);
        keep("setting-light");
        // The worker keeps the theme.
        QTRY_VERIFY_WITH_TIMEOUT(
            QJsonDocument::fromJson([&] {
                QFile f(settingsFile);
                return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
            }()).array().at(0).toObject().value("displayMode").toInt() == 1,
            10000);

        openPage(1);
        QImage argb;
        QTRY_VERIFY_WITH_TIMEOUT(differingPixels(argb = grab(), light) > 20000, 10000);
        argb = keep("argb-light");
        openPage(0);
        QImage monitor;
        QTRY_VERIFY_WITH_TIMEOUT(differingPixels(monitor = grab(), argb) > 20000, 10000);
        // The first light-theme telemetry reply paints the values black.
        QTest::qWait(2500);
        monitor = keep("monitor-light");
        const QImage darkMonitor(QStringLiteral(PICTURE_DIR "/page-monitor-dark.png"));
        QVERIFY(meanBrightness(monitor) > meanBrightness(darkMonitor) + 0.2);
    }

    void noDeviceScreenWithoutTheCard()
    {
        stop(program);
        // No endpoint in this runtime folder and an empty sysfs tree.
        const QString runtime = home.filePath("run-none"), tmp = home.filePath("tmp-none");
        QVERIFY(QDir().mkpath(runtime + "/sysfs"));
        QVERIFY(QDir().mkpath(tmp));
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // The worker has looked for adapters: the program holds the instance
        // key, so the second start hands over instead of racing it.
        startProgram(programEnvironment(runtime, runtime + "/sysfs", tmp),
                     [&] { return programOutput.contains("EnumerateDevices returned 0 adapters"); });
        if (QTest::currentTestFailed())
            return;
        // The loading screen is one flat colour around its animation; the
        // no-device screen lies on the window's background picture.
        const QColor loading("#162955");
        QImage shot;
        QTRY_VERIFY_WITH_TIMEOUT(!(shot = grab()).isNull() && shot.pixelColor(20, 20) != loading
                                     && shot.pixelColor(windowW - 20, windowH - 20) != loading,
                                 30000);
        QTest::qWait(1000);
        QVERIFY(!keep("nodevice-light").isNull());
    }
};

QTEST_MAIN(UserPathTest)
#include "tst_uie2e_user_path.moc"
