// ControlMessage encoding and decoding against nlohmann's own dump and parse of the same JSON,
// measured in one run: a decode is a parse plus building the message, an encode is building the
// document plus a dump. Messages: a full hello, a ping, a pong and a client report.
#include "bench/RatioReporter.h"
#include "protocol/ControlMessage.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

namespace velm {
namespace {

ControlMessage sample(const std::string& kind) {
    if (kind == "hello") {
        return ControlMessage::hello(ClientHello(
            "8C1E7A52-0D1B-4F6E-9A3C-5B2D4E6F7A81", "Ada's iPad", 2732, 2048, 120, Bytes(32, 0x5A),
            DeviceModel{"iPad13,4", "iPad Pro"}, Bytes(65, 0x04), Bytes(64, 0x33), true));
    }
    if (kind == "ping") {
        return ControlMessage::ping(4711, 912345678123);
    }
    if (kind == "pong") {
        return ControlMessage::pong(4711, 912345678123, 1234567890123);
    }
    return ControlMessage::clientStats({5400, 12, 0.0021, 3.7, 1.9, 12.25});
}

const std::vector<std::string> kinds{"hello", "ping", "pong", "clientStats"};

void bareParse(benchmark::State& state, const std::string& kind) {
    const Bytes text = *sample(kind).jsonEncoded();
    for (auto _ : state) {
        auto document = nlohmann::json::parse(text.begin(), text.end());
        benchmark::DoNotOptimize(document);
    }
}

void bareDump(benchmark::State& state, const std::string& kind) {
    const Bytes text = *sample(kind).jsonEncoded();
    const auto document = nlohmann::ordered_json::parse(text.begin(), text.end());
    for (auto _ : state) {
        auto dumped = document.dump();
        benchmark::DoNotOptimize(dumped);
    }
}

void decode(benchmark::State& state, const std::string& kind) {
    const Bytes text = *sample(kind).jsonEncoded();
    for (auto _ : state) {
        auto message = ControlMessage::fromJson(text);
        benchmark::DoNotOptimize(message);
    }
}

void encode(benchmark::State& state, const std::string& kind) {
    const ControlMessage message = sample(kind);
    for (auto _ : state) {
        auto text = message.jsonEncoded();
        benchmark::DoNotOptimize(text);
    }
}

// Prints, per message, decode / parse, encode / dump and the round trips' ratio, each as our
// time / baseline time.
void printRatios(const RatioReporter& reporter) {
    for (const std::string& kind : kinds) {
        const auto decodeTime = reporter.time("decode/" + kind);
        const auto encodeTime = reporter.time("encode/" + kind);
        const auto parseTime = reporter.time("bareParse/" + kind);
        const auto dumpTime = reporter.time("bareDump/" + kind);
        if (decodeTime && encodeTime && parseTime > 0.0 && dumpTime > 0.0) {
            std::printf("%-12s decode / parse %.2f   encode / dump %.2f   (decode + encode) / (parse + "
                        "dump) %.2f\n",
                        kind.c_str(), *decodeTime / *parseTime, *encodeTime / *dumpTime,
                        (*decodeTime + *encodeTime) / (*parseTime + *dumpTime));
        }
    }
}

} // namespace
} // namespace velm

int main(int argc, char** argv) {
    using namespace velm;
    for (const std::string& kind : kinds) {
        benchmark::RegisterBenchmark(("bareParse/" + kind).c_str(), bareParse, kind);
        benchmark::RegisterBenchmark(("decode/" + kind).c_str(), decode, kind);
        benchmark::RegisterBenchmark(("bareDump/" + kind).c_str(), bareDump, kind);
        benchmark::RegisterBenchmark(("encode/" + kind).c_str(), encode, kind);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printRatios(reporter);
    benchmark::Shutdown();
    return 0;
}
