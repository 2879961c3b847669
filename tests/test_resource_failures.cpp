// What the worker threads and the image library do when the system fails
// them: threads that cannot start, memory that runs out. The work is done by
// the threads that did start, or the error that belongs to the failure comes
// back, and nothing is left behind.
#include "base/Errors.hpp"
#include "base/WorkerPool.hpp"
#include "drawing/ColumnPipeline.hpp"
#include "image/PngFile.hpp"
#include "support/PngChunks.hpp"
#include "support/RecordingSurface.hpp"
#include "support/TestPrinting.hpp"

#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <malloc.h>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

using namespace spirell;
using namespace spirell::base;
using namespace spirell::drawing;
using namespace spirell::formulas;
using namespace spirell::image;
using namespace spirell::testing;

// Memory that runs out on purpose: while set on a thread, every allocation on
// it of at least this many bytes fails. Every form of new and delete is
// replaced, so that each delete meets memory from the matching new.
namespace {
thread_local std::size_t failAllocationsFrom = 0; // 0: none fails
} // namespace

void* operator new(std::size_t size) {
    if (failAllocationsFrom != 0 && size >= failAllocationsFrom)
        throw std::bad_alloc();
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return ::operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return ::operator new(size, tag);
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete[](void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}

namespace {

// Makes the allocations of at least so many bytes fail on this thread while it lives.
class ScarceMemory {
public:
    explicit ScarceMemory(std::size_t largest) { failAllocationsFrom = largest; }
    ~ScarceMemory() { failAllocationsFrom = 0; }
    ScarceMemory(const ScarceMemory&) = delete;
    ScarceMemory& operator=(const ScarceMemory&) = delete;
};

// The bytes malloc has handed out and not yet taken back, on all threads.
qint64 allocatedBytes() {
    return qint64(mallinfo2().uordblks);
}

const QString kRefused = "refused";
const QString kOutOfMemory = "out of memory";

// Starts threads until so many have started, then fails as the system does
// when it refuses a thread or has no memory for one.
ThreadStarter failingAfter(unsigned startable, const QString& failure) {
    auto started = std::make_shared<unsigned>(0);
    return [=](std::function<void()> body) {
        if (*started == startable) {
            if (failure == kOutOfMemory)
                throw std::bad_alloc();
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        ++*started;
        return std::thread(std::move(body));
    };
}

// Four threads wanted, and how many of them the system lets start.
constexpr unsigned kWanted = 4;

void threadStartFailures() {
    QTest::addColumn<unsigned>("startable");
    QTest::addColumn<QString>("failure"); // how the next start fails
    QTest::newRow("all start") << kWanted << kRefused;
    QTest::newRow("refused after two") << 2u << kRefused;
    QTest::newRow("out of memory after one") << 1u << kOutOfMemory;
    QTest::newRow("refused at the first") << 0u << kRefused;
    QTest::newRow("out of memory at the first") << 0u << kOutOfMemory;
}

// What making something threw: empty for nothing, else its kind and message.
template <typename Make> QString thrownBy(Make&& make) {
    try {
        make();
        return {};
    } catch (const RenderFailure& failure) {
        return QString("RenderFailure: ") + failure.what();
    } catch (const std::bad_alloc&) {
        return "bad_alloc";
    }
}

// Every column of a drawing, one after the other, as a pipeline of so many
// threads gives them, and the workers that started.
std::pair<std::vector<Colour>, unsigned> pipelineColumns(unsigned threads,
                                                         const ThreadStarter& startThread = {}) {
    const Formula& formula = formulaNamed("aries");
    boxes::BoxTexts boxes;
    boxes.size = "40";
    const ViewParams view = readView(formula, boxes);
    std::vector<double> rowY;
    rowRange(view).forEach([&](std::int64_t, double Y) {
        rowY.push_back(Y);
        return true;
    });
    const std::size_t rows = rowY.size();
    const std::int64_t count = columnRange(view).stepLimit();
    ColumnPipeline pipeline(lanes::kernelsFor(lanes::InstructionSet::Scalar).colours[formula.index],
                            levelRule(formula, view), columnRange(view), count, std::move(rowY),
                            threads, startThread);
    std::vector<Colour> colours;
    for (std::int64_t column = 1; column <= count; ++column) {
        const Colour* computed = pipeline.column(column);
        colours.insert(colours.end(), computed, computed + rows);
    }
    return {colours, pipeline.workerCount()};
}

} // namespace

class ResourceFailuresTest : public QObject {
    Q_OBJECT
private slots:
    void poolWorksWithTheThreadsThatStarted_data() { threadStartFailures(); }
    void poolWorksWithTheThreadsThatStarted();
    void pipelineWorksWithTheThreadsThatStarted_data() { threadStartFailures(); }
    void pipelineWorksWithTheThreadsThatStarted();
    void readingTextsWithoutMemoryKeepsNothing();
};

void ResourceFailuresTest::poolWorksWithTheThreadsThatStarted() {
    QFETCH(unsigned, startable);
    QFETCH(QString, failure);
    const ThreadStarter startThread = failingAfter(startable, failure);
    if (startable == 0) {
        // Without a single thread the pool cannot work: a refusal is a
        // failure of the run, and memory that ran out stays what it is.
        const QString expected =
            failure == kOutOfMemory
                ? "bad_alloc"
                : "RenderFailure: could not start any computing thread: " +
                      QString::fromStdString(std::generic_category().message(EAGAIN));
        QCOMPARE(thrownBy([&] { WorkerPool pool(kWanted, startThread); }), expected);
        return;
    }
    WorkerPool pool(kWanted, startThread);
    QCOMPARE(pool.threadCount(), startable);
    // Two batches, each task of each run exactly once.
    std::vector<std::atomic<int>> runs(1000);
    for (int batch = 0; batch < 2; ++batch) {
        pool.start(runs.size(), [&](std::size_t task) { ++runs[task]; });
        pool.wait();
    }
    for (std::size_t task = 0; task < runs.size(); ++task)
        QVERIFY2(runs[task] == 2, qPrintable(QString("task %1").arg(task)));
}

// The pipeline never fails for want of threads: its caller computes too, and
// alone when no worker starts.
void ResourceFailuresTest::pipelineWorksWithTheThreadsThatStarted() {
    QFETCH(unsigned, startable);
    QFETCH(QString, failure);
    const auto [reference, noWorkers] = pipelineColumns(1);
    QCOMPARE(noWorkers, 0u);
    const auto [colours, workers] = pipelineColumns(kWanted + 1, failingAfter(startable, failure));
    QCOMPARE(workers, startable);
    QVERIFY(colours == reference);
}

// A compressed settings text needs memory to be inflated into. When there is
// none the read fails as out of memory, and frees zlib's state all the same.
void ResourceFailuresTest::readingTextsWithoutMemoryKeepsNothing() {
    QTemporaryDir folder;
    const QString path = folder.filePath("settings.png");
    const QByteArray text(16000, '1');
    writeFile(path, pngWith({textChunk("zTXt", "spirell:x", text)}));
    const std::vector<std::string> keys{"spirell:x"};
    QCOMPARE(readPngTexts(path.toStdString(), keys).at("spirell:x"), text.toStdString());

    const auto readWithoutMemory = [&] {
        std::string error;
        {
            const ScarceMemory scarce(16000); // the text's 16000 bytes find no room
            try {
                readPngTexts(path.toStdString(), keys);
            } catch (const RenderFailure& failure) {
                error = failure.what();
            }
        }
        return QString::fromStdString(error);
    };
    QVERIFY2(readWithoutMemory().endsWith(": out of memory"), qPrintable(readWithoutMemory()));
    // zlib's state takes about 7 KiB: twenty reads that kept it would keep 140 KiB.
    const qint64 before = allocatedBytes();
    for (int read = 0; read < 20; ++read)
        readWithoutMemory();
    const qint64 kept = allocatedBytes() - before;
    QVERIFY2(kept < 16 * 1024, qPrintable(QString("%1 bytes kept").arg(kept)));
}

QTEST_GUILESS_MAIN(ResourceFailuresTest)
#include "test_resource_failures.moc"
