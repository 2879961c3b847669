// spirell-render --deep-zoom: every tile of every level against the PNG of
// the same view and its 2 x 2 means, the view kept for --from, the viewer
// page's texts, the memory a pyramid holds, and runs that stop half way.

#include "image/DeepZoom.hpp"
#include "support/RendererRuns.hpp"

#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <csignal>
#include <vector>

using namespace spirell;
using namespace spirell::testing;

namespace {

struct DziHeader {
    int tileSize = -1;
    int overlap = -1;
    int width = -1;
    int height = -1;
    QString format;
};

DziHeader readDzi(const QString& path) {
    DziHeader header;
    QXmlStreamReader xml(fileBytes(path));
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("Image")) {
            header.tileSize = xml.attributes().value("TileSize").toInt();
            header.overlap = xml.attributes().value("Overlap").toInt();
            header.format = xml.attributes().value("Format").toString();
        } else if (xml.name() == QLatin1String("Size")) {
            header.width = xml.attributes().value("Width").toInt();
            header.height = xml.attributes().value("Height").toInt();
            xml.skipCurrentElement();
        } else
            xml.skipCurrentElement();
    }
    return header;
}

QImage rgbImage(const QString& path) {
    return QImage(path).convertToFormat(QImage::Format_RGB888);
}

// The level above: each pixel the mean of 2 x 2, rounded half up, the last
// column and row of an odd side taken twice.
QImage halved(const QImage& below) {
    QImage above((below.width() + 1) / 2, (below.height() + 1) / 2, QImage::Format_RGB888);
    for (int y = 0; y < above.height(); ++y)
        for (int x = 0; x < above.width(); ++x) {
            const int xs[2] = {2 * x, std::min(2 * x + 1, below.width() - 1)};
            const int ys[2] = {2 * y, std::min(2 * y + 1, below.height() - 1)};
            int sums[3] = {0, 0, 0};
            for (const int sy : ys)
                for (const int sx : xs) {
                    const uchar* pixel = below.constScanLine(sy) + 3 * sx;
                    for (int c = 0; c < 3; ++c)
                        sums[c] += pixel[c];
                }
            uchar* out = above.scanLine(y) + 3 * x;
            for (int c = 0; c < 3; ++c)
                out[c] = static_cast<uchar>((sums[c] + 2) / 4);
        }
    return above;
}

// Where a tile lies along one side of its level, as the Deep Zoom format
// places them: tileSize apart, reaching overlap further where a neighbour is.
std::pair<int, int> tileSpan(int index, int side, int tileSize, int overlap) {
    const int start = std::max(0, index * tileSize - (index > 0 ? overlap : 0));
    const int end = std::min(side, (index + 1) * tileSize + overlap);
    return {start, end - start};
}

QString describe(const QImage& image) {
    return QString("%1 x %2").arg(image.width()).arg(image.height());
}

} // namespace

class TestDeepZoom : public QObject {
    Q_OBJECT

private slots:
    void everyTileIsThePngOrTheMeansOfTheLevelBelow_data();
    void everyTileIsThePngOrTheMeansOfTheLevelBelow();
    void pageShowsTheViewAsGiven_data();
    void pageShowsTheViewAsGiven();
    void pyramidHoldsAStripOfTilesWhateverTheHeight_data();
    void pyramidHoldsAStripOfTilesWhateverTheHeight();
    void stoppedRunLeavesNothingThatLooksComplete_data();
    void stoppedRunLeavesNothingThatLooksComplete();
    void refusalsWriteNothing_data();
    void refusalsWriteNothing();
};

void TestDeepZoom::everyTileIsThePngOrTheMeansOfTheLevelBelow_data() {
    QTest::addColumn<QStringList>("view");
    QTest::addColumn<QStringList>("tiles");
    QTest::addColumn<int>("tileSize");
    QTest::addColumn<int>("overlap");

    QTest::newRow("default tiles, odd sides")
        << QStringList{"ripple", "--frame", "777x333"} << QStringList{} << 254 << 1;
    QTest::newRow("small tiles, wide overlap")
        << QStringList{"pebble", "--frame", "301x517"}
        << QStringList{"--tile-size", "64", "--tile-overlap", "3"} << 64 << 3;
    QTest::newRow("no overlap, a power of two")
        << QStringList{"quest", "--frame", "256x256"}
        << QStringList{"--tile-size", "16", "--tile-overlap", "0"} << 16 << 0;
    QTest::newRow("a tall strip") << QStringList{"ember", "--frame", "3x701"}
                                  << QStringList{"--tile-size", "16"} << 16 << 1;
    QTest::newRow("one pixel") << QStringList{"marble", "--frame", "1x1"} << QStringList{} << 254
                               << 1;
    QTest::newRow("a formula text")
        << QStringList{"--formula", "red = sin(X / 7)\ngreen = cos(Y / 9) * 0.5\nblue = 0.3\n",
                       "--frame", "190x140"}
        << QStringList{"--tile-size", "32", "--tile-overlap", "2"} << 32 << 2;
    QTest::newRow("scale 3") << QStringList{"thistle", "--size", "60", "--scale", "3"}
                             << QStringList{"--tile-size", "100"} << 100 << 1;
}

void TestDeepZoom::everyTileIsThePngOrTheMeansOfTheLevelBelow() {
    QFETCH(QStringList, view);
    QFETCH(QStringList, tiles);
    QFETCH(int, tileSize);
    QFETCH(int, overlap);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString png = folder.filePath("view.png");
    const QString dzi = folder.filePath("poster.dzi");
    const QString files = folder.filePath("poster_files");
    RendererRun run = runRenderer(view + QStringList{"-q", "-o", png});
    QCOMPARE(run.status, 0);
    run = runRenderer(view + tiles + QStringList{"-q", "--deep-zoom", dzi});
    QVERIFY2(run.status == 0, qPrintable(run.errors));
    QVERIFY(run.errors.isEmpty());

    QImage level = rgbImage(png);
    QVERIFY(!level.isNull());
    const DziHeader header = readDzi(dzi);
    QCOMPARE(header.format, QString("png"));
    QCOMPARE(header.tileSize, tileSize);
    QCOMPARE(header.overlap, overlap);
    QCOMPARE(header.width, level.width());
    QCOMPARE(header.height, level.height());

    // Levels from the image itself down to 1 x 1, each from the one below.
    int levelCount = 1;
    for (int side = std::max(level.width(), level.height()); side > 1; side = (side + 1) / 2)
        ++levelCount;
    QStringList expectedEntries{"openseadragon", "view.png"};
    for (int number = levelCount - 1; number >= 0; --number) {
        expectedEntries << QString::number(number);
        const int columns = (level.width() + tileSize - 1) / tileSize;
        const int rows = (level.height() + tileSize - 1) / tileSize;
        QStringList expectedTiles;
        for (int column = 0; column < columns; ++column)
            for (int row = 0; row < rows; ++row) {
                const QString name = QString("%1_%2.png").arg(column).arg(row);
                expectedTiles << name;
                const auto [x, width] = tileSpan(column, level.width(), tileSize, overlap);
                const auto [y, height] = tileSpan(row, level.height(), tileSize, overlap);
                const QString path = files + "/" + QString::number(number) + "/" + name;
                const QImage tile = rgbImage(path);
                const QImage expected = level.copy(x, y, width, height);
                QVERIFY2(tile == expected,
                         qPrintable(QString("level %1 tile %2: %3, not %4 as "
                                            "the level below says")
                                        .arg(number)
                                        .arg(name, describe(tile), describe(expected))));
            }
        QStringList written = entries(files + "/" + QString::number(number));
        written.sort();
        expectedTiles.sort();
        QCOMPARE(written, expectedTiles);
        level = halved(level);
    }
    QCOMPARE(level.size(), QSize(1, 1));
    QStringList written = entries(files);
    written.sort();
    expectedEntries.sort();
    QCOMPARE(written, expectedEntries);
    QVERIFY(QFile::exists(folder.filePath("poster.html")));
    QVERIFY(QFile::exists(files + "/openseadragon/openseadragon.min.js"));
    QVERIFY(QFile::exists(files + "/openseadragon/LICENSE.txt"));

    // The view the pyramid keeps paints the same PNG again, from the .dzi or
    // from its view.png.
    for (const QString& from : {dzi, files + "/view.png"}) {
        const QString again = folder.filePath("again.png");
        run = runRenderer({"--from", from, "-q", "-o", again});
        QVERIFY2(run.status == 0, qPrintable(run.errors));
        QVERIFY2(rgbImage(again) == rgbImage(png), qPrintable(from));
    }
}

void TestDeepZoom::pageShowsTheViewAsGiven_data() {
    QTest::addColumn<QStringList>("view");
    QTest::addColumn<QString>("formula");
    QTest::addColumn<QString>("formulaText");
    QTest::addColumn<QString>("sizeBox");
    QTest::addColumn<QString>("frame");

    QTest::newRow("a built-in") << QStringList{"ripple", "--size", "40"} << "ripple"
                                << ""
                                << "40"
                                << "";
    // A text that would end the page's script element if it were not escaped.
    const QString closing = "# </script><b>\nred = X / 40\ngreen = 0.5\nblue = Y / 40\n";
    QTest::newRow("a text that closes the script")
        << QStringList{"--formula", closing, "--size", "40", "--frame", "90x50"} << "formula"
        << closing << "40"
        << "90x50";
}

void TestDeepZoom::pageShowsTheViewAsGiven() {
    QFETCH(QStringList, view);
    QFETCH(QString, formula);
    QFETCH(QString, formulaText);
    QFETCH(QString, sizeBox);
    QFETCH(QString, frame);
    QTemporaryDir folder;
    const RendererRun run =
        runRenderer(view + QStringList{"-q", "--deep-zoom", folder.filePath("a b#.dzi")});
    QVERIFY2(run.status == 0, qPrintable(run.errors));

    const QString page = QString::fromUtf8(fileBytes(folder.filePath("a b#.html")));
    const QRegularExpression script(
        R"re(<script type="application/json" id="view">(.*?)</script>)re",
        QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = script.match(page);
    QVERIFY(match.hasMatch());
    QJsonParseError error;
    const QJsonObject json = QJsonDocument::fromJson(match.captured(1).toUtf8(), &error).object();
    QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
    QCOMPARE(json["formula"].toString(), formula);
    QCOMPARE(json["formulaText"].toString(), formulaText);
    QCOMPARE(json["frame"].toString(), frame);
    QCOMPARE(json["files"].toString(), QString("a%20b%23_files"));
    QString shownSize;
    for (const QJsonValue box : json["boxes"].toArray())
        if (box["option"].toString() == "--size")
            shownSize = box["text"].toString();
    QCOMPARE(shownSize, sizeBox);
    // The page loads OpenSeadragon from the pyramid's own folder.
    QVERIFY(page.contains(R"(src="a%20b%23_files/openseadragon/openseadragon.min.js")"));

    // The command line the page shows, pasted into a shell, paints the same picture.
    QString command = json["command"].toString();
    QVERIFY(command.startsWith("spirell-render "));
    command.replace(0, QString("spirell-render").size(), "\"$0\"");
    QProcess shell;
    shell.setWorkingDirectory(folder.path());
    shell.start("/bin/bash", {"-c", command + " -q", SPIRELL_RENDER_BINARY});
    QVERIFY(shell.waitForFinished(60000));
    QVERIFY2(shell.exitCode() == 0, shell.readAllStandardError().constData());
    QCOMPARE(runRenderer(view + QStringList{"-q", "-o", folder.filePath("given.png")}).status, 0);
    QVERIFY(rgbImage(folder.filePath(formula + ".png")) == rgbImage(folder.filePath("given.png")));
}

void TestDeepZoom::pyramidHoldsAStripOfTilesWhateverTheHeight_data() {
    QTest::addColumn<quint32>("width");
    QTest::addColumn<quint32>("tileSize");
    QTest::addColumn<quint32>("overlap");
    QTest::newRow("wide, default tiles") << 3000u << 254u << 1u;
    QTest::newRow("narrow, large tiles") << 300u << 1024u << 8u;
}

void TestDeepZoom::pyramidHoldsAStripOfTilesWhateverTheHeight() {
    QFETCH(quint32, width);
    QFETCH(quint32, tileSize);
    QFETCH(quint32, overlap);
    // The same image width, 40 times the height: the rows held stay the same.
    std::vector<std::size_t> held;
    for (const quint32 height : {3000u, 120000u}) {
        image::DeepZoomLayout layout{width, height, tileSize, overlap};
        std::uint64_t tiles = 0;
        image::DeepZoomPyramid pyramid(layout, [&](const image::Tile&) { ++tiles; });
        std::vector<std::uint8_t> row(std::size_t{3} * width);
        std::size_t most = 0;
        for (quint32 y = 0; y < height; ++y) {
            row[y % row.size()] = static_cast<std::uint8_t>(y);
            pyramid.addRow(row.data());
            most = std::max(most, pyramid.heldBytes());
        }
        QVERIFY(pyramid.complete());
        std::uint64_t expectedTiles = 0;
        for (int level = 0; level <= layout.deepestLevel(); ++level)
            expectedTiles += std::uint64_t{layout.columns(level)} * layout.rows(level);
        QCOMPARE(tiles, expectedTiles);
        held.push_back(most);
    }
    // A strip of tileSize + 2 x overlap rows at each level, the widths
    // adding up to less than twice the image's, one tile, and a row or two
    // of each level: nothing that grows with the height.
    const std::size_t side = tileSize + 2 * overlap;
    const std::size_t levelsWidth = 2 * std::size_t{width} + 64;
    const std::size_t bound = 3 * side * levelsWidth +
                              3 * side * std::min<std::size_t>(width, side) + 3 * 3 * levelsWidth;
    for (const std::size_t each : held)
        QVERIFY2(
            each <= bound,
            qPrintable(QString("%1 bytes held, more than %2 for a strip").arg(each).arg(bound)));
}

void TestDeepZoom::stoppedRunLeavesNothingThatLooksComplete_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("earlierPyramid");
    QTest::newRow("interrupted") << int(SIGINT) << false;
    QTest::newRow("killed") << int(SIGKILL) << false;
    QTest::newRow("interrupted over an earlier pyramid") << int(SIGINT) << true;
    QTest::newRow("killed over an earlier pyramid") << int(SIGKILL) << true;
}

void TestDeepZoom::stoppedRunLeavesNothingThatLooksComplete() {
    QFETCH(int, signal);
    QFETCH(bool, earlierPyramid);
    QTemporaryDir folder;
    const QString dzi = folder.filePath("poster.dzi");
    QByteArray earlierDzi;
    QByteArray earlierTile;
    if (earlierPyramid) {
        QCOMPARE(runRenderer({"pebble", "--frame", "300x200", "-q", "--deep-zoom", dzi}).status, 0);
        earlierDzi = fileBytes(dzi);
        earlierTile = fileBytes(folder.filePath("poster_files/9/0_0.png"));
        QVERIFY(!earlierTile.isEmpty());
    }

    QProcess process;
    process.start(SPIRELL_RENDER_BINARY,
                  {"ripple", "--frame", "6000x6000", "--threads", "1", "-q", "--deep-zoom", dzi});
    QVERIFY(process.waitForStarted());
    // Stopped once it has written tiles into its hidden folder.
    QDeadlineTimer deadline(60000);
    bool writing = false;
    while (!writing && !deadline.hasExpired() && process.state() == QProcess::Running) {
        for (const QString& entry : entries(folder.path()))
            if (entry.startsWith(".poster_files.") &&
                !QDir(folder.filePath(entry + "/13")).isEmpty())
                writing = true;
        QThread::msleep(20);
    }
    QVERIFY2(writing, "the run wrote no tiles to stop it at");
    ::kill(static_cast<pid_t>(process.processId()), signal);
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::CrashExit);

    if (earlierPyramid) {
        // The earlier pyramid is there whole, as it was.
        QCOMPARE(fileBytes(dzi), earlierDzi);
        QCOMPARE(fileBytes(folder.filePath("poster_files/9/0_0.png")), earlierTile);
        QVERIFY(!QFile::exists(folder.filePath("poster_files/13")));
    } else {
        QVERIFY(!QFile::exists(dzi));
        QVERIFY(!QFile::exists(folder.filePath("poster.html")));
        QVERIFY(!QFile::exists(folder.filePath("poster_files")));
    }
    // Whatever is left is hidden, and no .dzi names it.
    for (const QString& entry : entries(folder.path()))
        QVERIFY2(entry.startsWith('.') || earlierPyramid, qPrintable(entry));
}

void TestDeepZoom::refusalsWriteNothing_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("not a .dzi") << QStringList{"ripple", "--deep-zoom", "OUT/poster.png"}
                                << "ending in \".dzi\"";
    QTest::newRow("no name") << QStringList{"ripple", "--deep-zoom", "OUT/.dzi"}
                             << "ending in \".dzi\"";
    QTest::newRow("with -o") << QStringList{"ripple", "--deep-zoom", "OUT/p.dzi", "-o", "OUT/p.png"}
                             << "give one of them";
    QTest::newRow("tiles too small")
        << QStringList{"ripple", "--deep-zoom", "OUT/p.dzi", "--tile-size", "8"} << "16 to 8192";
    QTest::newRow("overlap over half a tile")
        << QStringList{"ripple", "--deep-zoom",    "OUT/p.dzi", "--tile-size",
                       "64",     "--tile-overlap", "33"}
        << "at most half the tile size, 32";
    QTest::newRow("tiles without a pyramid")
        << QStringList{"ripple", "-o", "OUT/p.png", "--tile-size", "64"} << "--deep-zoom";
    QTest::newRow("in parts") << QStringList{"ripple", "--deep-zoom", "OUT/p.dzi", "--part", "0/2"}
                              << "no --part or --join";
    QTest::newRow("a folder that is not there")
        << QStringList{"ripple", "--deep-zoom", "OUT/missing/p.dzi"} << "cannot write";
}

void TestDeepZoom::refusalsWriteNothing() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QTemporaryDir folder;
    arguments.replaceInStrings("OUT", folder.path());
    const RendererRun run = runRenderer(arguments);
    QCOMPARE(run.status, 2);
    QVERIFY2(isOneErrorLine(run.errors, message), qPrintable(run.errors));
    QCOMPARE(entries(folder.path()), QStringList());
}

QTEST_GUILESS_MAIN(TestDeepZoom)
#include "test_deep_zoom.moc"
