// FrameParser throughput against memcpy of the same bytes, measured in one run.
// The stream is 64 MiB of channel frames: each 256 KiB frame (a file chunk or
// an image) is followed by 512 frames of 32 bytes (input events), and the
// stream arrives in 64 KiB reads. frameParser hands frames on as views, the
// way the control channel consumes them; frameParserCopies returns each frame
// with its own payload, and its frames are dropped after each read.
#include "bench/RatioReporter.h"
#include "protocol/ChannelFrame.h"
#include "protocol/FrameParser.h"

#include <benchmark/benchmark.h>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace velm {
namespace {

constexpr std::size_t streamBytes = 64u << 20;
constexpr std::size_t readBytes = 64u << 10;
constexpr std::size_t largeFrameBytes = 256u << 10;
constexpr std::size_t smallFrameBytes = 32;
constexpr int smallFramesPerLarge = 512;

const Bytes& stream() {
    static const Bytes bytes = [] {
        Bytes all;
        all.reserve(streamBytes);
        const Bytes large(largeFrameBytes - 5, 0xA5);
        const Bytes small(smallFrameBytes - 5, 0x5A);
        while (true) {
            auto frame = ChannelFrame::encode(Channel::file, large);
            if (all.size() + frame->size() > streamBytes) {
                break;
            }
            all.insert(all.end(), frame->begin(), frame->end());
            for (int i = 0; i < smallFramesPerLarge && all.size() + smallFrameBytes <= streamBytes; ++i) {
                frame = ChannelFrame::encode(Channel::input, small);
                all.insert(all.end(), frame->begin(), frame->end());
            }
        }
        return all;
    }();
    return bytes;
}

void memcpyBaseline(benchmark::State& state) {
    const Bytes& bytes = stream();
    Bytes destination(readBytes);
    for (auto _ : state) {
        for (std::size_t at = 0; at < bytes.size(); at += readBytes) {
            const std::size_t size = std::min(readBytes, bytes.size() - at);
            std::memcpy(destination.data(), bytes.data() + at, size);
            benchmark::DoNotOptimize(destination.data());
            benchmark::ClobberMemory();
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void frameParser(benchmark::State& state) {
    const Bytes& bytes = stream();
    std::size_t frames = 0;
    for (auto _ : state) {
        FrameParser parser;
        for (std::size_t at = 0; at < bytes.size(); at += readBytes) {
            const std::size_t size = std::min(readBytes, bytes.size() - at);
            parser.feed(ByteView(bytes).subspan(at, size), [&frames](const FrameParser::FrameView& frame) {
                benchmark::DoNotOptimize(frame.payload.data());
                ++frames;
            });
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
    state.counters["frames"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}

void frameParserCopies(benchmark::State& state) {
    const Bytes& bytes = stream();
    std::size_t frames = 0;
    for (auto _ : state) {
        FrameParser parser;
        for (std::size_t at = 0; at < bytes.size(); at += readBytes) {
            const std::size_t size = std::min(readBytes, bytes.size() - at);
            const auto cut = parser.feed(ByteView(bytes).subspan(at, size));
            frames += cut.size();
            benchmark::DoNotOptimize(cut.data());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
    state.counters["frames"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}

BENCHMARK(memcpyBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(frameParser)->Unit(benchmark::kMillisecond);
BENCHMARK(frameParserCopies)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace velm

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    velm::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const std::string parser : {"frameParser", "frameParserCopies"}) {
        velm::RatioReporter::printRatio(parser + " throughput / memcpy throughput",
                                        reporter.rateRatio(parser, "memcpyBaseline"));
    }
    benchmark::Shutdown();
    return 0;
}
