// The play loop of the ROM image in DeSmuME, timed in the emulator's own
// time through the main processor's debugger stub: vertical blanks per pass
// with no key held and with Right held, and where the framebuffer clear
// begins and ends against the vertical blank (lines 192-262 of 263, about
// 4.5 ms of the 16.7 ms frame). The emulation stands still at each stop, so
// the line counter read there is the line the program reached.
//
//   bench_desmume [PASSES]      (default 20 each way)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "emulator.h"

using namespace vxdevicetest;
using namespace std::chrono_literals;

namespace {

constexpr double kLineUs = 1e6 * 2130 / 33513982.0;  // one scanline
constexpr int kLines = 263, kVisibleLines = 192;

std::string input(const Emulator& e, const std::string& event) {
    return std::string("shell ") + VX_XINPUT + " " + e.display() + " " + event;
}

// One pass: where it began (vertical blanks so far, line) and the clear's
// first and last line.
struct Pass {
    int vblanks = 0, line = 0, clearStart = 0, clearEnd = 0, drawEnd = 0;
};

std::vector<Pass> passesIn(const std::string& out, const char* tag) {
    std::vector<Pass> passes;
    std::istringstream in(out);
    std::string text;
    const std::string prefix = std::string(tag) + " ";
    while (std::getline(in, text)) {
        Pass p;
        if (text.rfind(prefix, 0) == 0 && std::sscanf(text.c_str() + prefix.size(), "%d %d %d %d %d", &p.vblanks,
                                                      &p.line, &p.clearStart, &p.clearEnd, &p.drawEnd) == 5)
            passes.push_back(p);
    }
    return passes;
}

// Lines from `from` to `to`, across the frame's end if need be.
int linesBetween(int from, int to) { return (to - from + kLines) % kLines; }

void report(const char* name, const std::vector<Pass>& passes) {
    if (passes.size() < 2) return (void)std::printf("%s: fewer than two passes seen\n", name);
    std::vector<int> perPass, clearLines, clearStarts;
    for (size_t i = 1; i < passes.size(); ++i) perPass.push_back(passes[i].vblanks - passes[i - 1].vblanks);
    for (const Pass& p : passes) {
        clearLines.push_back(linesBetween(p.clearStart, p.clearEnd));
        clearStarts.push_back(p.clearStart);
    }
    auto [minPass, maxPass] = std::minmax_element(perPass.begin(), perPass.end());
    double mean = 0;
    for (int v : perPass) mean += v;
    mean /= static_cast<double>(perPass.size());
    auto [minClear, maxClear] = std::minmax_element(clearLines.begin(), clearLines.end());
    auto [minStart, maxStart] = std::minmax_element(clearStarts.begin(), clearStarts.end());
    std::printf("%s: %zu passes, vertical blanks per pass %.2f (min %d, max %d)\n", name, perPass.size(), mean,
                *minPass, *maxPass);
    std::printf(
        "%s: clear starts on line %d-%d, takes %d-%d lines (%.2f-%.2f ms); the vertical blank is %d lines "
        "(%.2f ms)\n",
        name, *minStart, *maxStart, *minClear, *maxClear, *minClear * kLineUs / 1000, *maxClear * kLineUs / 1000,
        kLines - kVisibleLines, (kLines - kVisibleLines) * kLineUs / 1000);
    std::vector<int> drawEnds;
    for (size_t i = 1; i < passes.size(); ++i) drawEnds.push_back(passes[i].drawEnd);  // the pass before's draw
    auto [minDraw, maxDraw] = std::minmax_element(drawEnds.begin(), drawEnds.end());
    std::printf("%s: the square's loop (after the second wait) ends on line %d-%d, %d-%d lines into the blank\n", name,
                *minDraw, *maxDraw, linesBetween(kVisibleLines, *minDraw), linesBetween(kVisibleLines, *maxDraw));
    const int overrun = *maxStart + *maxClear - kLines;
    if (overrun > 0)
        std::printf(
            "%s: the clear runs %d lines into the next frame's picture (top %d rows drawn from a cleared "
            "buffer)\n",
            name, overrun, overrun);
}

}  // namespace

int main(int argc, char** argv) {
    const int passes = argc > 1 ? std::max(2, std::atoi(argv[1])) : 20;
    std::string error;
    auto emulator = Emulator::start("arm9", error);
    if (!emulator) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    // Vertical blanks counted where the dispatcher serves them; each pass
    // prints the count and the line at its start, then the line where the
    // clear begins (the draw's entry) and ends (its first vertical-blank wait).
    const char* vcount = "*(unsigned short*)0x04000006";
    std::vector<std::string> commands = {
        "set $vb = 0",
        "set $start = 0",
        "set $line = 0",
        "set $pvb = 0",
        "set $drawn = 0",
        "break *vxIrqService",
        "commands\nsilent\nif ($r0 & 1)\nset $vb = $vb + 1\nend\ncontinue\nend",
        "break vxDrawTank",
        "continue",  // the first square: the play loop runs
        "delete 2",
        "break vxHandleInput",
        std::string("commands\nsilent\nset $line = ") + vcount + "\nset $pvb = $vb\ncontinue\nend",
        "break vxDrawTank",
        std::string("commands\nsilent\nset $start = ") + vcount + "\ncontinue\nend",
        "break game.cpp:74",
        std::string("commands\nsilent\nset $drawn = ") + vcount + "\ncontinue\nend",
        "break game.cpp:65",
        "continue",  // the rest of the first pass
    };
    auto collect = [&](const char* tag) {
        for (int i = 0; i < passes; ++i) {
            commands.push_back("continue");
            commands.push_back(std::string("printf \"") + tag + " %d %d %d %d %d\\n\", $pvb, $line, $start, " + vcount +
                               ", $drawn");
        }
    };
    collect("idle");
    commands.push_back(input(*emulator, "key-down Right"));
    collect("right");
    commands.push_back(input(*emulator, "key-up Right"));

    const auto r = emulator->debug(VX_DEVICE_ARM9_ELF, commands, 300s);
    const auto idle = passesIn(r.out, "idle"), right = passesIn(r.out, "right");
    if (std::getenv("VX_BENCH_RAW")) std::fputs(r.out.c_str(), stdout);
    if (idle.size() < 2 || right.size() < 2) {
        std::fprintf(stderr, "the debugger saw too few passes:\n%s%s\n", r.out.c_str(), r.err.c_str());
        return 1;
    }
    report("no key", idle);
    report("Right held", right);
    return 0;
}
