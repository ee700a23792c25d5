// One pointer move from the decoded InputEvent to XFlush, through the injector and its XTest sink,
// against a bare XTestFakeMotionEvent + XFlush on a connection of its own. Needs an X server
// (scripts/x11-sandbox.sh starts one); prints the ratio of the two times (target at most 1.5).

#include "Velm_Host/input/InputInjector.h"
#include "bench/RatioReporter.h"
#include "platform/dispatch/ManualQueue.h"
#include "platform/x11/X11InputSink.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <benchmark/benchmark.h>

namespace {

using namespace velm;

constexpr SessionDesktop::Area screen{0, 0, 1920, 1080};

// Two places a pixel apart, taken in turn, so that every move really moves.
constexpr int firstX = 960;
constexpr int secondX = 961;

void bareMotion(benchmark::State& state) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        state.SkipWithError("needs an X server (scripts/x11-sandbox.sh)");
        return;
    }
    bool second = false;
    for (auto _ : state) {
        XTestFakeMotionEvent(display, DefaultScreen(display), second ? secondX : firstX, 540, CurrentTime);
        XFlush(display);
        second = !second;
    }
    XSync(display, False);
    XCloseDisplay(display);
}

void injectedMove(benchmark::State& state) {
    auto sink = std::make_unique<X11InputSink>();
    if (!sink->cursorLocation()) {
        state.SkipWithError("needs an X server (scripts/x11-sandbox.sh)");
        return;
    }
    const auto injector = InputInjector::make(std::move(sink), nullptr);
    injector->start(std::make_shared<ManualQueue>());
    injector->setScreen(screen);
    const InputEvent moves[] = {
        InputEvent::decoding(InputEvent::pointerMove(firstX / 1920.0f, 0.5f).encoded()),
        InputEvent::decoding(InputEvent::pointerMove(secondX / 1920.0f, 0.5f).encoded())};
    std::size_t index = 0;
    for (auto _ : state) {
        injector->handle(moves[index]);
        index ^= 1;
    }
    injector->releaseAll();
}

BENCHMARK(bareMotion);
BENCHMARK(injectedMove);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    velm::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    velm::RatioReporter::printRatio("injected move / bare xtest motion time",
                                    reporter.timeRatio("injectedMove", "bareMotion"), "target at most 1.5");
    benchmark::Shutdown();
    return 0;
}
