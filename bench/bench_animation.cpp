// Where the time of an animation goes: the same flight's frames computed
// alone on every core, then computed again and handed to each kind of video
// encoder in turn, in wall and processor seconds. The encoders work on
// threads of their own, still busy with a frame while the next is computed,
// so an encoder's share is the difference between the two passes, in
// processor seconds above all. With spirell-render's own run of the flight,
// where computing and encoding overlap, these show what bounds it.
//
// Usage: spirell-bench-animation KEY1.png KEY2.png [...] [--seconds S] [--fps N]
//                                [--frame WxH] [--kinds mp4,webm,mkv]

#include "animation/FlightPlan.hpp"
#include "animation/FlightRender.hpp"
#include "image/ImagePlan.hpp"
#include "lanes/InstructionSets.hpp"
#include "video/VideoWriter.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

using namespace spirell;

namespace {

struct Seconds {
    double wall = 0;
    double processor = 0; // every thread of the process

    Seconds& operator+=(const Seconds& other) {
        wall += other.wall;
        processor += other.processor;
        return *this;
    }
};

double processorSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

template <typename Work> Seconds timed(Work&& work) {
    const auto wallStart = std::chrono::steady_clock::now();
    const double processorStart = processorSeconds();
    work();
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count(),
            processorSeconds() - processorStart};
}

// Frame number frame of the flight, computed on every core into rgb, as a
// flight's video computes it.
void computeFrame(const animation::FlightPlan& flight, std::uint64_t frame,
                  const drawing::Computing& computing, const image::ExtraPixels& extra,
                  std::vector<std::uint8_t>& rgb) {
    rgb.resize(std::size_t{3} * (flight.frame.width + extra.columns) *
               (flight.frame.height + extra.rows));
    animation::computeFrame(flight, frame, computing, extra, nullptr, rgb.data());
}

void print(const char* what, const Seconds& seconds, std::uint64_t frames) {
    std::printf("| %s | %.2f | %.2f | %.1f |\n", what, seconds.wall, seconds.processor,
                seconds.processor * 1e3 / double(frames));
}

int run(int argc, char** argv) {
    std::vector<animation::Keyframe> keys;
    animation::FlightChoices choices;
    std::string kinds = "mp4,webm,mkv";
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--seconds" && hasValue)
            choices.secondsPerMove = std::atof(argv[++i]);
        else if (argument == "--fps" && hasValue)
            choices.framesPerSecond = std::atoi(argv[++i]);
        else if (argument == "--frame" && hasValue)
            choices.frame = image::readFrameSize(argv[++i]);
        else if (argument == "--kinds" && hasValue)
            kinds = argv[++i];
        else
            keys.push_back(animation::readKeyframe(argument));
    }
    const drawing::Computing computing = drawing::computingFromEnvironment();
    const animation::FlightPlan flight = animation::planFlight(keys, choices, computing);
    std::printf("%llu frames of %ux%u, %s, %u threads\n\n",
                static_cast<unsigned long long>(flight.frames), flight.frame.width,
                flight.frame.height, lanes::nameOf(computing.instructionSet), computing.threads);
    std::printf("| step | wall s | processor s | processor ms a frame |\n|---|---:|---:|---:|\n");

    std::vector<std::uint8_t> rgb;
    Seconds computed;
    for (std::uint64_t frame = 0; frame < flight.frames; ++frame)
        computed += timed([&] { computeFrame(flight, frame, computing, {}, rgb); });
    print("computing the frames", computed, flight.frames);

    const std::pair<const char*, video::OutputKind> all[] = {
        {"mp4", video::OutputKind::Mp4H264},
        {"webm", video::OutputKind::WebmVp9},
        {"mkv", video::OutputKind::MkvLossless}};
    for (const auto& [name, kind] : all) {
        if (kinds.find(name) == std::string::npos)
            continue;
        const image::FrameSize size = animation::writtenFrameSize(flight.frame, kind);
        const image::ExtraPixels extra{size.width - flight.frame.width,
                                       size.height - flight.frame.height};
        char path[] = "/tmp/spirell-bench-XXXXXX";
        const int descriptor = ::mkstemp(path);
        if (descriptor < 0)
            throw std::runtime_error("cannot make a temporary file");
        ::unlink(path);
        Seconds both;
        {
            video::VideoWriter writer(descriptor, kind, size.width, size.height,
                                      flight.timing.framesPerSecond,
                                      animation::flightMetadata(flight));
            both = timed([&] {
                for (std::uint64_t frame = 0; frame < flight.frames; ++frame) {
                    computeFrame(flight, frame, computing, extra, rgb);
                    writer.writeFrame(rgb);
                }
                writer.finish();
            });
        }
        const off_t bytes = ::lseek(descriptor, 0, SEEK_END);
        ::close(descriptor);
        const std::string kindName(outputKindRow(kind).name);
        print(("computing and encoding " + kindName).c_str(), both, flight.frames);
        const Seconds encoding{both.wall - computed.wall, both.processor - computed.processor};
        print(
            ("encoding " + kindName + ", the difference (" + std::to_string(bytes >> 20) + " MiB)")
                .c_str(),
            encoding, flight.frames);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "spirell-bench-animation: %s\n", error.what());
        return 1;
    }
}
