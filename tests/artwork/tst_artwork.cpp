// The pictures and the font the interface names, as the program's resource
// tree carries them: every qrc:/icon/ and qrc:/font/ path written in the scene
// (and every :/icon/ path in the shell) must resolve and load, and the
// pictures must suit the way the scene draws them (tinted, stretched, animated).

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFontDatabase>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

#include <algorithm>

namespace {

const QString kSourceDir = QStringLiteral(TV_SOURCE_DIR);

QImage readResource(const QString &path, const QSize &scaled = QSize())
{
    QImageReader reader(path);
    if (scaled.isValid())
        reader.setScaledSize(scaled);
    return reader.read().convertToFormat(QImage::Format_ARGB32);
}

// Every quoted "qrc:/icon/...", "qrc:/font/..." (scene) or ":/icon/..." (shell)
// in the source tree, as a resource path starting with ":/".
QMap<QString, QString> referencedResources()
{
    QMap<QString, QString> found; // resource path -> first file naming it
    const QRegularExpression ref(QStringLiteral(R"re(["'](?:qrc)?(:/(?:icon|font)/[^"'\n]*)["'])re"));
    const struct { const char *dir; QStringList filters; } trees[] = {
        {"qml", {QStringLiteral("*.qml"), QStringLiteral("*.js")}},
        {"app", {QStringLiteral("*.cpp"), QStringLiteral("*.h")}},
    };
    for (const auto &tree : trees) {
        QDirIterator it(kSourceDir + QLatin1Char('/') + QLatin1String(tree.dir), tree.filters,
                        QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString file = it.next();
            QFile f(file);
            if (!f.open(QIODevice::ReadOnly))
                continue;
            const QString text = QString::fromUtf8(f.readAll());
            auto matches = ref.globalMatch(text);
            while (matches.hasNext()) {
                const QString path = matches.next().captured(1);
                if (!found.contains(path))
                    found.insert(path, QDir(kSourceDir).relativeFilePath(file));
            }
        }
    }
    return found;
}

// How strongly a frame's edge stands out at one border: the summed colour and
// opacity difference of the first pixels from the edge against the panel's
// fill further in. Proportional to the width of the edge lines.
int edgeStrength(const QImage &img, QPoint from, QPoint step)
{
    const QRgb fill = img.pixel(from + step * 12);
    int sum = 0;
    for (int n = 0; n < 12; ++n) {
        const QRgb c = img.pixel(from + step * n);
        sum += qAbs(qAlpha(c) - qAlpha(fill)) + qAbs(qRed(c) - qRed(fill)) + qAbs(qGreen(c) - qGreen(fill))
            + qAbs(qBlue(c) - qBlue(fill));
    }
    return sum;
}

const char *const kEffectIcons[] = {
    "Static", "Breath", "Strobbing", "Color Cycle", "Rainbow", "Breath Rainbow", "Comet",
    "Comet Rainbow", "Flash", "Flash Rainbow", "Wave", "Yoyo", "Starry night",
};

} // namespace

class ArtworkTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void referencedPathsResolve();
    void namedPictures_data();
    void namedPictures();
    void everyPictureLoads();
    void everyPictureFileIsInTheResources();
    void effectIconsAreTintableAndDistinct();
    void framesKeepTheirEdgeWhenStretched_data();
    void framesKeepTheirEdgeWhenStretched();
    void loadingAnimations_data();
    void loadingAnimations();
    void backgroundsCoverTheWindow();
    void logoCarriesEveryIconSize();
    void fontLoadsWithItsLicence();
};

void ArtworkTest::initTestCase()
{
    // the scene draws its SVG pictures through the Qt SVG image plugin
    QVERIFY2(QImageReader::supportedImageFormats().contains("svg"),
             "no SVG image plugin (Debian: libqt5svg5)");
    QVERIFY(QImageReader::supportedImageFormats().contains("gif"));
    QVERIFY(QImageReader::supportedImageFormats().contains("ico"));
}

void ArtworkTest::referencedPathsResolve()
{
    const auto refs = referencedResources();
    // the scene names its font and pictures; finding none means the scan is broken
    QVERIFY2(!refs.isEmpty(), qPrintable(QStringLiteral("no resource paths found under ") + kSourceDir));
    QStringList missing, unreadable;
    for (auto it = refs.cbegin(); it != refs.cend(); ++it) {
        const QString path = it.key();
        const QString where = path + QStringLiteral(" (named in ") + it.value() + QLatin1Char(')');
        if (path.endsWith(QLatin1Char('/'))) {
            // a folder that the scene completes with a file name at run time
            if (!QDir(path).exists() || QDir(path).isEmpty())
                missing << where;
            continue;
        }
        if (!QFile::exists(path)) {
            missing << where;
            continue;
        }
        if (path.startsWith(QLatin1String(":/icon/")) && readResource(path).isNull())
            unreadable << where;
    }
    QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("unresolved: ") + missing.join(QStringLiteral("; "))));
    QVERIFY2(unreadable.isEmpty(), qPrintable(QStringLiteral("not loadable: ") + unreadable.join(QStringLiteral("; "))));
}

// The pictures the window, its pages and the tray need, with the size each
// is shown at where the layout fixes one (0 x 0: any size).
void ArtworkTest::namedPictures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    const QSize any(0, 0);
    QTest::newRow("tray/window icon") << ":/icon/TARVELL_LOGO_256.ico" << any; // sizes: logoCarriesEveryIconSize
    QTest::newRow("dark background") << ":/icon/dark monitor bg _ 0331.png" << any;
    QTest::newRow("light background") << ":/icon/light monitor bg _ 0331.png" << any;
    QTest::newRow("dark frame") << ":/icon/dark-frame.svg" << any;
    QTest::newRow("light frame") << ":/icon/light frame.svg" << any;
    QTest::newRow("dark loading") << ":/icon/d_Tarvell Loading Anim_0409.gif" << QSize(300, 100);
    QTest::newRow("light loading") << ":/icon/l_Tarvell Loading Anim_0409.gif" << QSize(300, 100);
    QTest::newRow("sub-brand") << ":/icon/KRB_LOGO.png" << QSize(24, 18);
    QTest::newRow("temperature warning") << ":/icon/Icon_warning.png" << QSize(20, 20);
    QTest::newRow("dark knob") << ":/icon/icon_dark.png" << QSize(10, 10);
    QTest::newRow("light knob") << ":/icon/icon_light.png" << QSize(10, 10);
    QTest::newRow("no device") << ":/icon/no_device detected_dark.svg" << QSize(58, 58);
    QTest::newRow("refresh") << ":/icon/icon_refresh.png" << QSize(16, 16);
    QTest::newRow("driver warning") << ":/icon/icon_warning_svg.svg" << QSize(26, 26);
    QTest::newRow("close") << ":/icon/X.png" << QSize(32, 32);
    QTest::newRow("attention") << ":/icon/attention_icon.png" << QSize(32, 32);
    for (const char *name : kEffectIcons) {
        QTest::newRow(name) << QStringLiteral(":/icon/effect/%1.svg").arg(QLatin1String(name))
                            << QSize(60, 55);
    }
}

void ArtworkTest::namedPictures()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QVERIFY2(QFile::exists(path), qPrintable(path));
    QImageReader reader(path);
    const QSize natural = reader.size();
    const QImage img = reader.read();
    QVERIFY2(!img.isNull(), qPrintable(path + QStringLiteral(": ") + reader.errorString()));
    if (!size.isEmpty())
        QCOMPARE(natural, size);
}

void ArtworkTest::everyPictureLoads()
{
    int count = 0;
    QDirIterator it(QStringLiteral(":/icon"), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        ++count;
        const QImage img = readResource(path);
        QVERIFY2(!img.isNull(), qPrintable(path));
        // a high-density variant must be exactly twice its base picture
        if (path.contains(QLatin1String("@2x."))) {
            QString base = path;
            base.replace(QLatin1String("@2x."), QLatin1String("."));
            QVERIFY2(QFile::exists(base), qPrintable(path + QStringLiteral(" has no base picture")));
            QCOMPARE(img.size(), QImageReader(base).size() * 2);
        }
    }
    QVERIFY(count >= 30);
}

void ArtworkTest::everyPictureFileIsInTheResources()
{
    // a picture added to the folder but not to icons.qrc would be missing at run time
    const QString root = kSourceDir + QStringLiteral("/qml/icon");
    QDir rootDir(root);
    QStringList notListed;
    QDirIterator it(root, {QStringLiteral("*.png"), QStringLiteral("*.svg"), QStringLiteral("*.gif"),
                           QStringLiteral("*.ico")},
                    QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString rel = rootDir.relativeFilePath(it.next());
        if (rel.startsWith(QLatin1String("src/")))
            continue; // drawing sources, rendered by scripts/make-artwork
        if (!QFile::exists(QStringLiteral(":/icon/") + rel))
            notListed << rel;
    }
    QVERIFY2(notListed.isEmpty(), qPrintable(notListed.join(QStringLiteral(", "))));
}

void ArtworkTest::effectIconsAreTintableAndDistinct()
{
    QSet<QByteArray> seen;
    QStringList tintable;
    for (const char *name : kEffectIcons)
        tintable << QStringLiteral(":/icon/effect/%1.svg").arg(QLatin1String(name));
    tintable << QStringLiteral(":/icon/no_device detected_dark.svg");

    for (const QString &path : qAsConst(tintable)) {
        const QImage img = readResource(path, QSize(60, 55));
        QVERIFY2(!img.isNull(), qPrintable(path));
        int covered = 0;
        for (int y = 0; y < img.height(); ++y) {
            for (int x = 0; x < img.width(); ++x) {
                const QRgb c = img.pixel(x, y);
                if (qAlpha(c) == 0)
                    continue;
                // the scene recolours these by their shape: any colour in them would be lost,
                // and a dark part would vanish from the shape's meaning
                QVERIFY2(qRed(c) >= 245 && qGreen(c) >= 245 && qBlue(c) >= 245,
                         qPrintable(QStringLiteral("%1: non-white pixel at %2,%3").arg(path).arg(x).arg(y)));
                if (qAlpha(c) > 128)
                    ++covered;
            }
        }
        const double share = double(covered) / (img.width() * img.height());
        QVERIFY2(share > 0.04 && share < 0.6,
                 qPrintable(QStringLiteral("%1: %2 of the area drawn").arg(path).arg(share)));
        // no backdrop: the button behind must show through the corners
        QCOMPARE(qAlpha(img.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(img.pixel(img.width() - 1, img.height() - 1)), 0);
        const QByteArray bits(reinterpret_cast<const char *>(img.constBits()), int(img.sizeInBytes()));
        QVERIFY2(!seen.contains(bits), qPrintable(path + QStringLiteral(" duplicates another icon")));
        seen.insert(bits);
    }
}

void ArtworkTest::framesKeepTheirEdgeWhenStretched_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("dark") << ":/icon/dark-frame.svg";
    QTest::newRow("light") << ":/icon/light frame.svg";
}

void ArtworkTest::framesKeepTheirEdgeWhenStretched()
{
    QFETCH(QString, path);
    // The scene renders the frame straight at each panel's size (from 250 to 1030
    // wide, 96 to 462 high), stretching it unevenly. Its edge lines must keep
    // their width: a side's edge is as strong on a narrow panel as on a wide one,
    // where lines that scaled with the picture would be four times as wide.
    QList<int> sides, flats;
    for (int w : {250, 644, 1030}) {
        const QImage img = readResource(path, QSize(w, 300));
        QCOMPARE(img.size(), QSize(w, 300));
        sides << edgeStrength(img, {0, 150}, {1, 0}) << edgeStrength(img, {w - 1, 150}, {-1, 0});
        // glass over the background: neither an opaque slab nor empty
        const int alpha = qAlpha(img.pixel(w / 2, 150));
        QVERIFY2(alpha > 40 && alpha < 235, qPrintable(QString::number(alpha)));
    }
    for (int h : {106, 298, 462}) {
        const QImage img = readResource(path, QSize(600, h));
        flats << edgeStrength(img, {300, h - 1}, {0, -1});
    }
    auto show = [](const QList<int> &l) {
        QStringList out;
        for (int v : l)
            out << QString::number(v);
        return out.join(QLatin1Char(' '));
    };
    const QString log = QStringLiteral("sides %1, bottoms %2").arg(show(sides), show(flats));
    for (const QList<int> &series : {sides, flats}) {
        const auto [lo, hi] = std::minmax_element(series.cbegin(), series.cend());
        QVERIFY2(*lo >= 150, qPrintable(log)); // the edge is drawn at all
        QVERIFY2(*hi <= *lo * 3 / 2, qPrintable(log));
    }
}

void ArtworkTest::loadingAnimations_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QColor>("screen"); // the colour of the screen it plays on
    QTest::newRow("dark") << ":/icon/d_Tarvell Loading Anim_0409.gif" << QColor("#162955");
    QTest::newRow("light") << ":/icon/l_Tarvell Loading Anim_0409.gif" << QColor("#E4EAF7");
}

void ArtworkTest::loadingAnimations()
{
    QFETCH(QString, path);
    QFETCH(QColor, screen);
    QImageReader reader(path);
    QVERIFY(reader.supportsAnimation());
    QCOMPARE(reader.size(), QSize(300, 100));
    QVERIFY2(reader.imageCount() >= 12, qPrintable(QString::number(reader.imageCount())));
    QCOMPARE(reader.loopCount(), -1); // plays until the scene stops it

    QVector<QImage> frames;
    int total = 0;
    while (reader.canRead()) {
        frames << reader.read().convertToFormat(QImage::Format_ARGB32);
        QVERIFY(!frames.last().isNull());
        const int delay = reader.nextImageDelay();
        QVERIFY(delay > 0);
        total += delay;
    }
    QCOMPARE(frames.size(), reader.imageCount());
    QVERIFY2(total >= 500 && total <= 4000, qPrintable(QString::number(total)));
    QVERIFY(frames.first() != frames.at(frames.size() / 3));

    // the picture's own background must melt into the screen behind it
    for (const QImage &f : qAsConst(frames)) {
        for (const QPoint p : {QPoint(0, 0), QPoint(299, 0), QPoint(0, 99), QPoint(299, 99)}) {
            const QColor c = QColor::fromRgba(f.pixel(p));
            QVERIFY2(c.alpha() == 255 && qAbs(c.red() - screen.red()) <= 3 && qAbs(c.green() - screen.green()) <= 3
                         && qAbs(c.blue() - screen.blue()) <= 3,
                     qPrintable(path + QStringLiteral(" corner ") + c.name()));
        }
    }
}

void ArtworkTest::backgroundsCoverTheWindow()
{
    double luminance[2] = {0, 0};
    const char *paths[2] = {":/icon/dark monitor bg _ 0331.png", ":/icon/light monitor bg _ 0331.png"};
    for (int i = 0; i < 2; ++i) {
        const QImage img = readResource(QString::fromLatin1(paths[i]));
        QVERIFY(!img.isNull());
        // at least the window's initial size, in its 16:9 shape
        QVERIFY2(img.width() >= 1440 && img.height() >= 810, paths[i]);
        QCOMPARE(img.width() * 9, img.height() * 16);
        double sum = 0;
        int n = 0;
        for (int y = 0; y < img.height(); y += 7) {
            for (int x = 0; x < img.width(); x += 7) {
                const QRgb c = img.pixel(x, y);
                QVERIFY2(qAlpha(c) == 255, paths[i]); // nothing of the desktop may show through
                sum += qGray(c);
                ++n;
            }
        }
        luminance[i] = sum / n;
    }
    // the dark theme's texts are light and the light theme's dark: each needs its ground
    QVERIFY2(luminance[0] < 70, qPrintable(QString::number(luminance[0])));
    QVERIFY2(luminance[1] > 190, qPrintable(QString::number(luminance[1])));
}

void ArtworkTest::logoCarriesEveryIconSize()
{
    const QString ico = QStringLiteral(":/icon/TARVELL_LOGO_256.ico");
    QImageReader reader(ico);
    QSet<int> sizes;
    for (int i = 0; i < reader.imageCount(); ++i) {
        QVERIFY(reader.jumpToImage(i));
        const QImage img = reader.read();
        QVERIFY(!img.isNull());
        QCOMPARE(img.width(), img.height());
        sizes.insert(img.width());
    }
    // the tray and the window icon pick from these; a missing size means a blurred downscale
    for (int s : {16, 32, 48, 64, 128, 256}) {
        QVERIFY2(sizes.contains(s), qPrintable(QString::number(s)));
        const QImage png = readResource(QStringLiteral(":/icon/TARVELL_LOGO_%1.png").arg(s));
        QCOMPARE(png.size(), QSize(s, s));
        QCOMPARE(qAlpha(png.pixel(0, 0)), 0); // rounded badge on a clear ground
        QCOMPARE(qAlpha(png.pixel(s / 2, s / 2)), 255);
    }
    const QIcon icon(ico);
    QVERIFY(!icon.isNull());
    QVERIFY(icon.availableSizes().contains(QSize(16, 16)));
    QVERIFY(icon.availableSizes().contains(QSize(256, 256)));
}

void ArtworkTest::fontLoadsWithItsLicence()
{
    const int id = QFontDatabase::addApplicationFont(QStringLiteral(":/font/Kanit-Regular.ttf"));
    QVERIFY(id >= 0);
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    QVERIFY2(families.contains(QStringLiteral("Kanit")), qPrintable(families.join(QLatin1Char(','))));
    QFontDatabase db;
    QVERIFY(db.styles(QStringLiteral("Kanit")).contains(QStringLiteral("Regular")));
    QVERIFY(QFontDatabase::removeApplicationFont(id));

    // the font may only be shipped with its licence beside it
    QFile licence(kSourceDir + QStringLiteral("/qml/font/OFL.txt"));
    QVERIFY(licence.open(QIODevice::ReadOnly));
    const QByteArray text = licence.readAll();
    QVERIFY(text.contains("SIL OPEN FONT LICENSE Version 1.1"));
    QVERIFY(text.contains("The Kanit Project Authors"));
}

QTEST_MAIN(ArtworkTest)
#include "tst_artwork.moc"
