#include "drawing/ExploringRender.hpp"
#include "support/RecordingSurface.hpp"
#include "support/TestPrinting.hpp"

#include <QtTest>

#include <condition_variable>
#include <map>
#include <mutex>

using namespace spirell;
using namespace spirell::boxes;
using namespace spirell::formulas;
using namespace spirell::drawing;
using namespace spirell::testing;

namespace {

constexpr DrawingSurface::Size kShown{1111, 965};

} // namespace

Q_DECLARE_METATYPE(Computing)

namespace {

// Puts the pieces an exploring render delivers together, as the window does.
class PictureCollector {
public:
    ExploringRender::Delivery delivery() {
        return [this](std::shared_ptr<const ExploredRows> rows) {
            std::unique_lock lock(mutex_);
            pieces_.push_back(std::move(rows));
            arrived_.notify_all();
            arrived_.wait_for(lock, std::chrono::seconds(60), [this] { return !held_; });
        };
    }

    // While held, the render's thread waits in each delivery, as it would
    // while busy: what is asked of the render meanwhile waits for it.
    void hold() {
        std::lock_guard lock(mutex_);
        held_ = true;
    }
    void release() {
        std::lock_guard lock(mutex_);
        held_ = false;
        arrived_.notify_all();
    }
    // Waits for the generation's first piece.
    bool anyPiece(std::uint64_t generation) {
        std::unique_lock lock(mutex_);
        return arrived_.wait_for(lock, std::chrono::seconds(60), [&] {
            return std::any_of(pieces_.begin(), pieces_.end(),
                               [&](const auto& piece) { return piece->generation == generation; });
        });
    }

    // The picture of the generation once its last piece came, applying that
    // generation's pieces in order; a piece of another generation in between
    // fails the test.
    std::vector<std::uint32_t> complete(std::uint64_t generation, std::uint64_t* computed) {
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_for(lock, std::chrono::seconds(60),
                               [&] { return completeLocked(generation); }))
            return {};
        std::vector<std::uint32_t> picture;
        for (const auto& piece : pieces_) {
            if (piece->generation != generation)
                continue;
            picture.resize(std::size_t(piece->width) * piece->height);
            std::copy(piece->pixels.begin(), piece->pixels.end(),
                      picture.begin() + std::ptrdiff_t(piece->firstRow) * piece->width);
            *computed = piece->computedPixels;
        }
        return picture;
    }

    // The generation's first piece: the coarsest pass over the whole picture.
    std::shared_ptr<const ExploredRows> first(std::uint64_t generation) {
        std::lock_guard lock(mutex_);
        const auto found = std::find_if(pieces_.begin(), pieces_.end(), [&](const auto& piece) {
            return piece->generation == generation;
        });
        return found == pieces_.end() ? nullptr : *found;
    }

    bool anyComplete(std::uint64_t generation) {
        std::lock_guard lock(mutex_);
        return completeLocked(generation);
    }

private:
    bool completeLocked(std::uint64_t generation) const {
        return std::any_of(pieces_.begin(), pieces_.end(), [&](const auto& piece) {
            return piece->generation == generation && piece->complete;
        });
    }

    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::shared_ptr<const ExploredRows>> pieces_;
    bool held_ = false;
};

// What the frame draws for the boxes, cut to the shown area, as packed colours.
std::vector<std::uint32_t> framePicture(const Formula& formula, const BoxTexts& boxes) {
    static std::map<std::pair<int, std::string>, std::vector<std::uint32_t>> drawnBefore;
    const auto key =
        std::make_pair(formula.index, boxes.xPosition + '|' + boxes.yPosition + '|' + boxes.size +
                                          '|' + boxes.zoom + '|' + boxes.brightness);
    if (const auto found = drawnBefore.find(key); found != drawnBefore.end())
        return found->second;
    const RecordingSurface drawn = drawFromBoxes(formula, boxes, Computing{});
    const ViewGrid grid = viewGrid(readView(formula, boxes), kShown);
    std::vector<std::uint32_t> picture(grid.columnX.size() * grid.rowY.size());
    for (const auto& [position, colour] : drawn.latest) {
        const auto [x, y] = position;
        if (x < int(grid.columnX.size()) && y < int(grid.rowY.size()))
            picture[std::size_t(y) * grid.columnX.size() + x] =
                0xff000000u | (colour.red << 16) | (colour.green << 8) | colour.blue;
    }
    drawnBefore[key] = picture;
    return picture;
}

} // namespace

class ExploringRenderTest : public QObject {
    Q_OBJECT
private slots:
    void endsWithTheFramesPictureComputingEachPixelOnce_data();
    void endsWithTheFramesPictureComputingEachPixelOnce();
    void keepsOnlyPixelsWhoseCoordinatesMatch_data();
    void keepsOnlyPixelsWhoseCoordinatesMatch();
    void aNewRequestOrACancelEndsTheRenderUnderWay();
};

void ExploringRenderTest::endsWithTheFramesPictureComputingEachPixelOnce_data() {
    QTest::addColumn<QString>("routine");
    QTest::addColumn<BoxTexts>("boxes");
    QTest::addColumn<Computing>("computing");
    struct View {
        const char* name;
        BoxTexts boxes;
    };
    const View views[] = {
        {"L", boxTexts("1", "1", "768", "0.15")},
        {"fractional origin far out", boxTexts("123456789.3", "-0.7", "101", "3")},
        {"cut by the window's edge", boxTexts("5", "5", "1024", "0.5")},
        {"one pixel", boxTexts("1", "1", "1")},
    };
    // Every instruction set and thread count on a small view; the large ones
    // with the widest set on several threads, as the window computes them.
    for (const View& view : views)
        for (const char* routine : {"aries", "eeee", "qwin"})
            for (const lanes::InstructionSet set : lanes::availableInstructionSets())
                for (const unsigned threads : {1u, 3u})
                    if (view.boxes.size == "101" ||
                        (set == lanes::widestAvailable() && threads == 3))
                        QTest::addRow("%s, %s, %s, %u threads", routine, view.name,
                                      lanes::nameOf(set), threads)
                            << routine << view.boxes << Computing{set, threads};
}

// Whatever the passes, the picture at rest is the frame's, bit for bit, and
// no pixel was computed twice; the coarse picture first shown gives each
// 16 x 16 block its corner's colour.
void ExploringRenderTest::endsWithTheFramesPictureComputingEachPixelOnce() {
    QFETCH(QString, routine);
    QFETCH(BoxTexts, boxes);
    QFETCH(Computing, computing);
    const Formula& formula = formulaNamed(qPrintable(routine));
    PictureCollector collector;
    ExploringRender render(computing, collector.delivery());
    const std::uint64_t generation = render.request(formula, readView(formula, boxes), kShown);
    std::uint64_t computed = 0;
    const std::vector<std::uint32_t> picture = collector.complete(generation, &computed);
    QVERIFY(picture == framePicture(formula, boxes));
    QCOMPARE(computed, std::uint64_t(picture.size())); // as many as the frame's
    const auto coarse = collector.first(generation);
    QVERIFY(coarse && coarse->firstRow == 0 && coarse->pixels.size() == picture.size());
    for (std::size_t at = 0; at < picture.size(); ++at) {
        const std::size_t x = at % coarse->width, y = at / coarse->width;
        const std::size_t corner = (y - y % 16) * coarse->width + (x - x % 16);
        if (coarse->pixels[at] != picture[corner])
            QFAIL(qPrintable(QString("pixel %1, %2 is not its block's colour").arg(x).arg(y)));
    }
}

void ExploringRenderTest::keepsOnlyPixelsWhoseCoordinatesMatch_data() {
    QTest::addColumn<BoxTexts>("before");
    // The picture before was drawn and handed over, not rendered.
    QTest::addColumn<bool>("adopted");
    QTest::addColumn<BoxTexts>("after");
    QTest::addColumn<qint64>("computed");
    // Whole-number positions: a pan computes just the strips it uncovers.
    QTest::newRow("pan right and up")
        << boxTexts("1", "1", "300") << false << boxTexts("-39", "8", "300")
        << qint64(300 * 300 - (300 - 40) * (300 - 7));
    // The first move after a formula click: the window hands over the drawn
    // picture and asks for the new view straight after, both taken up once
    // the render thread is done with what it was busy with.
    QTest::newRow("pan right after a click")
        << boxTexts("1", "1", "300") << true << boxTexts("-39", "8", "300")
        << qint64(300 * 300 - (300 - 40) * (300 - 7));
    QTest::newRow("same view again")
        << boxTexts("1", "1", "300") << false << boxTexts("1", "1", "300") << qint64(0);
    QTest::newRow("same view as the click")
        << boxTexts("1", "1", "300") << true << boxTexts("1", "1", "300") << qint64(0);
    // Binary fractions add up exactly, as whole numbers do.
    QTest::newRow("quarter origin")
        << boxTexts("1.25", "1", "40") << false << boxTexts("4.25", "1", "40") << qint64(3 * 40);
    // Tenths do not: adding 1 a step rounds, and whether a moved column meets
    // the bits it had is up to the rounding; the picture must come out exact
    // either way (-1: any count).
    QTest::newRow("tenth origin") << boxTexts("0.1", "0.7", "300") << false
                                  << boxTexts("3.1", "0.7", "300") << qint64(-1);
    QTest::newRow("brightness changes every pixel")
        << boxTexts("1", "1", "100") << false << boxTexts("1", "1", "100", "1", "151")
        << qint64(100 * 100);
    QTest::newRow("zoom changes every pixel")
        << boxTexts("1", "1", "100") << true << boxTexts("1", "1", "100", "1.5")
        << qint64(100 * 100);
}

void ExploringRenderTest::keepsOnlyPixelsWhoseCoordinatesMatch() {
    QFETCH(BoxTexts, before);
    QFETCH(bool, adopted);
    QFETCH(BoxTexts, after);
    QFETCH(qint64, computed);
    const Formula& formula = formulaNamed("aries");
    PictureCollector collector;
    ExploringRender render(Computing{lanes::widestAvailable(), 2}, collector.delivery());
    std::uint64_t count = 0;
    if (adopted) {
        // The click ended an exploring render, whose thread is still busy.
        const std::vector<std::uint32_t> drawn = framePicture(formula, before);
        collector.hold();
        const std::uint64_t ended =
            render.request(formula, readView(formula, boxTexts("1", "1", "300", "2")), kShown);
        QVERIFY(collector.anyPiece(ended));
        render.cancel();
        render.adopt(formula, readView(formula, before), kShown, drawn);
    } else {
        collector.complete(render.request(formula, readView(formula, before), kShown), &count);
    }
    const std::uint64_t generation = render.request(formula, readView(formula, after), kShown);
    collector.release();
    const std::vector<std::uint32_t> picture = collector.complete(generation, &count);
    QVERIFY(picture == framePicture(formula, after));
    if (computed >= 0)
        QCOMPARE(qint64(count), computed);
}

// Only the latest request's picture completes; a cancel leaves none.
void ExploringRenderTest::aNewRequestOrACancelEndsTheRenderUnderWay() {
    const Formula& formula = formulaNamed("qwin");
    PictureCollector collector;
    ExploringRender render(Computing{lanes::InstructionSet::Scalar, 1}, collector.delivery());
    std::vector<std::uint64_t> superseded;
    for (int i = 0; i < 20; ++i)
        superseded.push_back(render.request(
            formula, readView(formula, boxTexts(std::to_string(i).c_str(), "1", "768")), kShown));
    const BoxTexts last = boxTexts("20", "1", "768");
    const std::uint64_t generation = render.request(formula, readView(formula, last), kShown);
    std::uint64_t count = 0;
    QVERIFY(collector.complete(generation, &count) == framePicture(formula, last));
    for (const std::uint64_t old : superseded)
        QVERIFY(!collector.anyComplete(old));

    const std::uint64_t cancelled =
        render.request(formula, readView(formula, boxTexts("-500", "1", "768")), kShown);
    render.cancel();
    QVERIFY(render.currentGeneration() != cancelled);
    // A last request proves the render thread went on past the cancelled one.
    const std::uint64_t after = render.request(formula, readView(formula, last), kShown);
    collector.complete(after, &count);
    QVERIFY(!collector.anyComplete(cancelled));
}

QTEST_APPLESS_MAIN(ExploringRenderTest)
#include "test_exploring_render.moc"
