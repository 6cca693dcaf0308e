// The pictures and the font the interface names, as the program's resource
// tree carries them: every qrc:/icon/ and qrc:/font/ path written in the scene
// (and every :/icon/ path in the shell) must resolve and load, every picture
// file must be in the resources, and the generated sizes must be what the
// names promise.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFontDatabase>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

namespace {

const QString kSourceDir = QStringLiteral(TV_SOURCE_DIR);

// A quoted resource path, as a path starting with ":/".
const char kReference[] = R"re(["'](?:qrc)?(:/(?:icon|font)/[^"'\n]*)["'])re";

bool loads(const QString &path) { return !QImageReader(path).read().isNull(); }

} // namespace

class ArtworkTest : public QObject
{
    Q_OBJECT

private slots:
    void referencedPathsResolve()
    {
        QStringList bad;
        int found = 0;
        for (const char *tree : {"qml", "app"}) {
            QDirIterator it(kSourceDir + '/' + tree, {"*.qml", "*.js", "*.cpp", "*.h"}, QDir::Files,
                            QDirIterator::Subdirectories);
            while (it.hasNext()) {
                QFile f(it.next());
                QVERIFY(f.open(QIODevice::ReadOnly));
                auto matches = QRegularExpression(kReference).globalMatch(QString::fromUtf8(f.readAll()));
                while (matches.hasNext()) {
                    const QString path = matches.next().captured(1);
                    ++found;
                    // a folder is completed with a file name at run time
                    const bool ok = path.endsWith('/') ? QDir(path).exists() && !QDir(path).isEmpty()
                                    : path.startsWith(":/icon/") ? loads(path)
                                                                 : QFile::exists(path);
                    if (!ok)
                        bad << path + " (named in " + QDir(kSourceDir).relativeFilePath(f.fileName()) + ')';
                }
            }
        }
        // the scene names its font and pictures; finding none means the scan is broken
        QVERIFY2(found > 20, qPrintable(QString::number(found)));
        QVERIFY2(bad.isEmpty(), qPrintable(bad.join("; ")));
    }

    void everyPictureIsListedAndLoads()
    {
        // a picture added to the folder but not to icons.qrc would be missing at run time
        const QDir root(kSourceDir + "/qml/icon");
        QStringList notListed;
        QDirIterator files(root.path(), {"*.png", "*.svg", "*.gif", "*.ico"}, QDir::Files,
                           QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString rel = root.relativeFilePath(files.next());
            if (!rel.startsWith("src/") && !QFile::exists(":/icon/" + rel)) // src/: drawing sources
                notListed << rel;
        }
        QVERIFY2(notListed.isEmpty(), qPrintable(notListed.join(", ")));

        int count = 0;
        QDirIterator it(":/icon", QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            ++count;
            QImageReader reader(path);
            const QImage img = reader.read();
            QVERIFY2(!img.isNull(), qPrintable(path + ": " + reader.errorString()));
            // a high-density variant must be exactly twice its base picture
            if (path.contains("@2x.")) {
                const QString base = QString(path).replace("@2x.", ".");
                QVERIFY2(QFile::exists(base), qPrintable(path + " has no base picture"));
                QCOMPARE(img.size(), QImageReader(base).size() * 2);
            }
        }
        QVERIFY(count >= 30);
    }

    void logoCarriesEveryIconSize()
    {
        // the tray and the window icon pick from these; a missing size means a blurred downscale
        QImageReader reader(":/icon/TARVELL_LOGO_256.ico");
        QSet<int> sizes;
        for (int i = 0; i < reader.imageCount() && reader.jumpToImage(i); ++i) {
            const QImage img = reader.read();
            QCOMPARE(img.width(), img.height());
            sizes.insert(img.width());
        }
        for (int s : {16, 32, 48, 64, 128, 256}) {
            QVERIFY2(sizes.contains(s), qPrintable(QString::number(s)));
            const QImage png(QStringLiteral(":/icon/TARVELL_LOGO_%1.png").arg(s));
            QCOMPARE(png.size(), QSize(s, s));
        }
    }

    void fontLoadsWithItsLicence()
    {
        const int id = QFontDatabase::addApplicationFont(":/font/Kanit-Regular.ttf");
        QVERIFY(id >= 0);
        QVERIFY(QFontDatabase::applicationFontFamilies(id).contains("Kanit"));
        // the font may only be shipped with its licence beside it
        QFile licence(kSourceDir + "/qml/font/OFL.txt");
        QVERIFY(licence.open(QIODevice::ReadOnly));
        QVERIFY(licence.readAll().contains("SIL OPEN FONT LICENSE Version 1.1"));
    }
};

QTEST_MAIN(ArtworkTest)
#include "tst_artwork.moc"
