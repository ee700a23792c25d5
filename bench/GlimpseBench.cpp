// The glimpse of a 1920x1080 screen (read through shared memory, then JPEG) against a bare
// TurboJPEG compression of the same pixels, in the same settings. Needs an X server of that size
// (scripts/x11-sandbox.sh starts one); prints the ratio of the two times (target at most 1.5).

#include "bench/RatioReporter.h"
#include "platform/dispatch/Queue.h"
#include "platform/x11/Glimpse.h"
#include "platform/x11/X11ScreenCapture.h"
#include "platform/x11/X11ScreenList.h"

#include <X11/Xlib.h>
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

namespace {

using namespace velm;

constexpr ScreenRect screen{0, 0, 1920, 1080};
constexpr std::size_t budget = 3'000'000;

// Something like a desktop: a few large flat areas and a band of fine detail.
bool paintDesktop() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        return false;
    }
    const Window root = DefaultRootWindow(display);
    GC context = XCreateGC(display, root, 0, nullptr);
    const unsigned long colours[] = {0x2E3440, 0xECEFF4, 0x5E81AC, 0xBF616A, 0xA3BE8C};
    for (int index = 0; index < 5; ++index) {
        XSetForeground(display, context, colours[index]);
        XFillRectangle(display, root, context, index * 300, index * 150, 900, 600);
    }
    XSetForeground(display, context, 0x000000);
    for (int line = 0; line < 400; ++line) {
        XDrawLine(display, root, context, 100 + line * 4, 900, 140 + line * 3, 1060);
    }
    XFreeGC(display, context);
    XCloseDisplay(display);
    return true;
}

bool hasFullHdScreen(const ScreenList& screens) {
    const auto monitors = screens.monitors();
    return !monitors.empty() && monitors.front().frame.width >= screen.width &&
           monitors.front().frame.height >= screen.height;
}

void bareJpeg(benchmark::State& state) {
    X11ScreenCapture capture;
    const auto image = capture.capture(screen);
    if (!image || image->width != screen.width || image->height != screen.height) {
        state.SkipWithError("needs a 1920x1080 X server (scripts/x11-sandbox.sh)");
        return;
    }
    tjhandle handle = tjInitCompress();
    for (auto _ : state) {
        unsigned char* output = nullptr;
        unsigned long size = 0;
        tjCompress2(handle, image->pixels.data(), image->width, 0, image->height, TJPF_BGRX, &output, &size,
                    TJSAMP_420, 75, TJFLAG_FASTDCT);
        benchmark::DoNotOptimize(size);
        tjFree(output);
    }
    tjDestroy(handle);
}

void glimpse(benchmark::State& state) {
    const auto screens = X11ScreenList::make(Queue::make("bench.screens"));
    if (!hasFullHdScreen(*screens)) {
        state.SkipWithError("needs a 1920x1080 X server (scripts/x11-sandbox.sh)");
        return;
    }
    X11ScreenCapture capture;
    for (auto _ : state) {
        auto jpeg = Glimpse::take(*screens, capture, budget);
        benchmark::DoNotOptimize(jpeg);
    }
}

BENCHMARK(bareJpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(glimpse)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    paintDesktop();
    velm::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    velm::RatioReporter::printRatio("glimpse / bare JPEG time", reporter.timeRatio("glimpse", "bareJpeg"),
                                    "target at most 1.5");
    benchmark::Shutdown();
    return 0;
}
