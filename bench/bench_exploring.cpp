// Measures exploring in the real window, offscreen, with synthetic wheel and
// drag events, timestamping the moment the canvas takes each piece of the
// picture. The picture is 1024 x 768 ("L"):
// - coarse: from a wheel notch to the first, coarse picture of its view, the
//   median of several notches, for every formula;
// - exact: from a wheel notch to the exact picture, against the time the
//   image library takes to compute the same view on the same threads, the
//   fastest of several runs of each, alternately; and the exploring render
//   of the same view alone, without the window, to tell their costs apart;
// - drag: 60 moves a second over "ripple" for three seconds: screen updates a
//   second, and how many inputs behind the pointer the picture shown was;
// - storm: 1000 wheel notches in one second: the memory before and after, and
//   the time from the last notch to the exact picture against its computation.
// Prints Markdown tables for docs/PERFORMANCE.md. With formula captions as
// arguments, only those formulas are measured, and neither drag nor storm.

#include "app/Canvas.hpp"
#include "app/MainWindow.hpp"
#include "drawing/Computing.hpp"
#include "drawing/ExploringRender.hpp"
#include "drawing/ViewParams.hpp"
#include "image/BandRenderer.hpp"
#include "image/ImagePlan.hpp"
#include "lanes/InstructionSets.hpp"
#include <condition_variable>
#include <mutex>

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <limits>
#include <thread>
#include <vector>

using namespace spirell;
using namespace spirell::app;

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The resident memory of this process, in MiB.
double residentMiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return double(resident) * 4096 / (1 << 20);
}

void wheel(MainWindow& window, QPointF at, int delta) {
    QWheelEvent event(at, window.canvas()->mapToGlobal(at), {}, QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(window.canvas(), &event);
}

void mouse(MainWindow& window, QEvent::Type type, QPointF at, Qt::MouseButtons held) {
    QMouseEvent event(type, at, window.canvas()->mapToGlobal(at), Qt::LeftButton, held,
                      Qt::NoModifier);
    QApplication::sendEvent(window.canvas(), &event);
}

// Processes events until the condition holds, sleeping while none come, as
// the window's own event loop does: a loop that polls would take a core from
// the computing threads.
void waitFor(const std::function<bool()>& done) {
    QTimer tick; // wakes the loop now and then for conditions no event tells of
    tick.start(5);
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// The time the image library takes to compute the view the window shows, on
// the window's threads, without encoding, in ms.
double computeMilliseconds(const MainWindow& window, const drawing::Computing& computing) {
    const DrawnPicture& shown = window.picture();
    const image::ImagePlan plan =
        image::planImage({shown.formula->routine, shown.boxes, 1}, computing);
    image::BandOptions options;
    options.threads = plan.threads;
    const auto start = Clock::now();
    image::renderRows(plan, options, [](const std::uint8_t*) {});
    return millisecondsSince(start);
}

// The exploring render alone, without the window: from a request for the
// view the window shows to its exact picture, in ms.
double exploringRenderMilliseconds(const MainWindow& window, const drawing::Computing& computing) {
    std::mutex mutex;
    std::condition_variable done;
    std::uint64_t completed = 0;
    drawing::ExploringRender render(computing,
                                    [&](std::shared_ptr<const drawing::ExploredRows> rows) {
                                        if (!rows->complete)
                                            return;
                                        std::lock_guard lock(mutex);
                                        completed = rows->generation;
                                        done.notify_all();
                                    });
    const DrawnPicture& shown = window.picture();
    const drawing::ViewParams view = drawing::readView(*shown.formula, shown.boxes);
    const auto start = Clock::now();
    const std::uint64_t generation =
        render.request(*shown.formula, view, window.canvas()->shownSize());
    std::unique_lock lock(mutex);
    done.wait(lock, [&] { return completed == generation; });
    return millisecondsSince(start);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Shown {
    Clock::time_point first; // the first piece of the latest input's view
    Clock::time_point exact;
    bool sawFirst = false;
    bool sawExact = false;
};

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const drawing::Computing computing = drawing::computingFromEnvironment();
    MainWindow window(computing);
    window.show();
    Explorer& explorer = window.explorer();
    Shown shown;
    quint64 waitingFor = 0;
    QObject::connect(&explorer, &Explorer::pictureShown, [&](quint64 input, bool exact) {
        if (input != waitingFor)
            return;
        if (!shown.sawFirst) {
            shown.first = Clock::now();
            shown.sawFirst = true;
        }
        if (exact) {
            shown.exact = Clock::now();
            shown.sawExact = true;
        }
    });
    const QPointF middle(kPictureLeft + 512, kPictureTop + 384);
    const auto notch = [&](int delta, QPointF at) {
        shown = {};
        waitingFor = explorer.inputs() + 1;
        const auto start = Clock::now();
        wheel(window, at, delta);
        waitFor([&] { return shown.sawExact; });
        return std::pair(std::chrono::duration<double, std::milli>(shown.first - start).count(),
                         std::chrono::duration<double, std::milli>(shown.exact - start).count());
    };

    std::printf("Machine: %u cores, %s, %u computing threads\n\n",
                std::thread::hardware_concurrency(), lanes::nameOf(computing.instructionSet),
                computing.threads);
    std::printf("| formula | coarse, median ms | exact ms | exploring render alone ms | computed "
                "alone ms | exact / computed |\n|---|---:|---:|---:|---:|---:|\n");
    const QStringList only = app.arguments().mid(1);
    for (const formulas::Formula& formula : formulas::formulaCatalogue()) {
        if (!only.isEmpty() && !only.contains(formula.caption))
            continue;
        window.boxes().write({"1", "1", "768", "0.15", "150"});
        window.formulaButton(formula.index)->click();
        std::vector<double> coarse;
        double exact = std::numeric_limits<double>::infinity();
        double alone = exact;
        double renderAlone = exact;
        // Notches in and out by turns, so that the view stays near the start;
        // each exact picture and its computation alone alternately.
        for (int i = 0; i < 9; ++i) {
            const auto [first, complete] =
                notch(i % 2 ? -120 : 120, middle + QPointF(37 * (i % 3), -23 * (i % 2)));
            coarse.push_back(first);
            exact = std::min(exact, complete);
            alone = std::min(alone, computeMilliseconds(window, computing));
            renderAlone = std::min(renderAlone, exploringRenderMilliseconds(window, computing));
        }
        std::printf("| %s | %.1f | %.1f | %.1f | %.1f | %.2f |\n", formula.caption, median(coarse),
                    exact, renderAlone, alone, exact / alone);
        std::fflush(stdout);
    }

    if (!only.isEmpty())
        return 0;

    // A drag over ripple at 60 moves a second.
    window.boxes().write({"1", "1", "768", "0.15", "150"});
    window.formulaButton(0)->click();
    int updates = 0;
    quint64 shownInput = 0;
    quint64 movesSent = 0;
    quint64 worstLag = 0;
    QObject::connect(&explorer, &Explorer::pictureShown, [&](quint64 input, bool) {
        ++updates;
        shownInput = input;
    });
    QPointF at = middle;
    mouse(window, QEvent::MouseButtonPress, at, Qt::LeftButton);
    const quint64 firstInput = explorer.inputs();
    QTimer mover;
    mover.setTimerType(Qt::PreciseTimer);
    mover.setInterval(1000 / 60);
    QObject::connect(&mover, &QTimer::timeout, [&] {
        // The picture shown against the moves made so far.
        if (movesSent > 0 && shownInput > firstInput)
            worstLag = std::max(worstLag, firstInput + movesSent - shownInput);
        at += QPointF(movesSent % 120 < 60 ? 3 : -3, movesSent % 80 < 40 ? 2 : -2);
        mouse(window, QEvent::MouseMove, at, Qt::LeftButton);
        ++movesSent;
    });
    const auto dragStart = Clock::now();
    mover.start();
    waitFor([&] { return millisecondsSince(dragStart) > 3000; });
    mover.stop();
    mouse(window, QEvent::MouseButtonRelease, at, Qt::NoButton);
    const double dragSeconds = millisecondsSince(dragStart) / 1000;
    waitFor([&] { return !explorer.isRendering(); });
    std::printf("\nDrag over ripple: %llu moves in %.1f s, %.1f screen updates a second, at "
                "most %llu inputs behind the pointer.\n",
                static_cast<unsigned long long>(movesSent), dragSeconds, updates / dragSeconds,
                static_cast<unsigned long long>(worstLag));

    // A storm of 1000 notches in one second.
    const double memoryBefore = residentMiB();
    shown = {};
    int sent = 0;
    QTimer storm;
    storm.setTimerType(Qt::PreciseTimer);
    storm.setInterval(10);
    QObject::connect(&storm, &QTimer::timeout, [&] {
        // Ten notches every 10 ms, as a free-spinning wheel delivers them.
        // In and out by turns around the middle: the view stays a view of
        // the pattern, not of a far corner where the loops run out of digits.
        for (int i = 0; i < 10 && sent < 1000; ++i, ++sent)
            wheel(window, middle, sent % 2 == 0 ? 120 : -120);
        if (sent == 1000)
            storm.stop();
    });
    const auto stormStart = Clock::now();
    storm.start();
    waitFor([&] { return sent == 1000; });
    const double stormSeconds = millisecondsSince(stormStart) / 1000;
    waitingFor = explorer.inputs();
    const auto stormEnd = Clock::now();
    waitFor([&] { return !explorer.isRendering(); });
    const double afterStorm = millisecondsSince(stormEnd);
    double alone = std::numeric_limits<double>::infinity();
    for (int i = 0; i < 3; ++i)
        alone = std::min(alone, computeMilliseconds(window, computing));
    std::printf("\nStorm: 1000 notches in %.2f s; memory %.1f MiB before, %.1f MiB after; exact "
                "%.1f ms after the last notch, computed alone %.1f ms (%.2f).\n",
                stormSeconds, memoryBefore, residentMiB(), afterStorm, alone, afterStorm / alone);
    return 0;
}
