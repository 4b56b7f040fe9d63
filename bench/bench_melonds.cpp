// The ROM image online in melonDS against the real vx-server on 127.0.0.1:80.
// Prints, in the emulator's own time (vertical blanks counted and the main
// processor's 50 ms timer read at breakpoints, where the emulation stands
// still): power-on to the connect request, to the co-processor's join, to
// the DHCP lease and to the ACK; the ADDME to ACK round trip; then the state
// records sent and received over a minute of Right held, and the loss.
//
//   bench_melonds [SECONDS_HELD]      (default 60; needs port 80)
#include <X11/keysym.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "melonds.h"

using namespace vxdevicetest;
using namespace std::chrono_literals;

namespace {

constexpr double kFrameHz = 59.8261;                 // the handheld's vertical blanks a second
constexpr double kTimerTickUs = 256e6 / 33513982.0;  // timer 3 counts bus cycles / 256
constexpr unsigned kTimerReload = 0xE667;

const char* const kHalf = "'(anonymous namespace)::half'";
const char* const kStack = "'(anonymous namespace)::stack'";

// One event: a breakpoint that prints the vertical blanks so far and the
// time in microseconds since the 50 ms timer started (its ms count plus the
// ticks of the period under way).
std::vector<std::string> event(const std::string& where, const std::string& name, bool last = false) {
    std::string print = "printf \"" + name + " %d %d %d\\n\", $vb, " + kHalf + ".now, *(unsigned short*)0x0400010C";
    return {"break " + where, "commands", "silent", print, last ? "end" : "continue\nend"};
}

struct Stamp {
    int vblanks = -1;
    double us = 0;
};

std::map<std::string, Stamp> stamps(const std::string& out) {
    std::map<std::string, Stamp> s;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        char name[32];
        int vb = 0, ms = 0, timer = 0;
        if (std::sscanf(line.c_str(), "%31s %d %d %d", name, &vb, &ms, &timer) == 4 && !s.count(name))
            s[name] = {vb, ms * 1000.0 + (timer - static_cast<int>(kTimerReload)) * kTimerTickUs};
    }
    return s;
}

// Counters of both processors, printed by a debugger session before and
// after the keys are held.
const std::vector<std::string> kMainCounters = {std::string("printf \"tx = %d\\n\", ") + kStack + ".tx_.frames",
                                                std::string("printf \"ringfull = %d\\n\", ") + kStack +
                                                    ".tx_.emitFailed",
                                                std::string("printf \"now = %d\\n\", ") + kHalf + ".now"};
const std::vector<std::string> kRadioCounters = {
    "printf \"sent = %d\\n\", 'vxradio::(anonymous namespace)::stats'.sent",
    "printf \"failed = %d\\n\", 'vxradio::(anonymous namespace)::stats'.failed",
    "printf \"timedout = %d\\n\", 'vxradio::(anonymous namespace)::stats'.timedOut",
    "printf \"received = %d\\n\", 'vxradio::(anonymous namespace)::stats'.received",
    "printf \"resets = %d\\n\", 'vxradio::(anonymous namespace)::stats'.ringResets"};

// The first and last value printed as `name = N`.
std::pair<long, long> values(const std::string& out, const std::string& name) {
    const std::regex re(name + R"( = (-?\d+))");
    std::vector<long> v;
    for (std::sregex_iterator i(out.begin(), out.end(), re), end; i != end; ++i) v.push_back(std::stol((*i)[1]));
    return v.size() >= 2 ? std::pair{v.front(), v.back()} : std::pair{-1L, -1L};
}

long delta(const std::string& out, const std::string& name) {
    const auto [before, after] = values(out, name);
    return after - before;
}

int records(const std::string& log) {
    int n = 0;
    for (size_t at = 0; (at = log.find("state id ", at)) != std::string::npos; ++at) ++n;
    return n;
}

void line(const char* name, const Stamp& s) {
    if (s.vblanks < 0) return (void)std::printf("%s: not reached\n", name);
    std::printf("%s: %d frames (%.3f s), %.1f ms after the timer started\n", name, s.vblanks, s.vblanks / kFrameHz,
                s.us / 1000.0);
}

}  // namespace

int main(int argc, char** argv) {
    const int held = argc > 1 ? std::atoi(argv[1]) : 60;
    if (!melonDsPresent()) {
        std::fprintf(stderr, "no melonDS at %s\n", melonDsPath());
        return 2;
    }
    std::string error;
    auto server = vxtest::Process::start({vxtest::binaryPath("vx-server"), "--desktop-port", "0"}, {}, &error);
    if (!server || !vxtest::waitForOutput(*server, vxtest::containing("ready\n"), 10s) ||
        server->outSoFar().find("listening handheld 127.0.0.1:80\n") == std::string::npos) {
        std::fprintf(stderr, "vx-server did not serve 127.0.0.1:80: %s\n", server ? server->errSoFar().c_str() : "");
        return 2;
    }
    MelonDs::Options options{VX_DEVICE_NAT_ROM};
    options.stubs = true;
    options.holdMain = true;
    auto melon = MelonDs::start(options, error);
    if (!melon) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }

    std::vector<std::string> commands = {
        "set $vb = 0", "break *vxIrqService", "commands", "silent", "if ($r0 & 1)\nset $vb = $vb + 1\nend", "continue",
        "end"};
    for (const auto& e :
         {event("'vxwifi9::Wifi_AutoConnect()'", "request"),
          event("'vxip::Stack::linkUp(unsigned char const*, vxip::Config const&, unsigned long)'", "joined"),
          event("'vxip::Stack::bind(vxip::DhcpReply const&, unsigned long)'", "leased"),
          event("network.cpp:43", "addme"), event("network.cpp:50", "ack", true)})
        commands.insert(commands.end(), e.begin(), e.end());
    // At the ACK: the counters, then on until interrupted, the counters again.
    commands.insert(commands.end(), {"continue", "delete"});
    commands.insert(commands.end(), kMainCounters.begin(), kMainCounters.end());
    commands.push_back("continue");
    commands.insert(commands.end(), kMainCounters.begin(), kMainCounters.end());
    auto main = melon->debugSession("arm9", VX_ARM9_NAT_ELF, commands, error);
    if (!main || !vxtest::waitForOutput(*main, vxtest::containing("now = "), 120s)) {
        std::fprintf(stderr, "no ACK seen: %s%s\n", main ? main->outSoFar().c_str() : error.c_str(),
                     main ? main->errSoFar().c_str() : "");
        return 1;
    }
    auto s = stamps(main->outSoFar());
    line("connect request", s["request"]);
    line("joined (co-processor reports the link)", s["joined"]);
    line("DHCP lease", s["leased"]);
    line("ADDME sent", s["addme"]);
    line("ACK received", s["ack"]);
    std::printf("search to join: %.1f ms\n", (s["joined"].us - s["request"].us) / 1000.0);
    std::printf("search to ACK: %.1f ms\n", (s["ack"].us - s["request"].us) / 1000.0);
    std::printf("ADDME to ACK round trip: %.2f ms\n", (s["ack"].us - s["addme"].us) / 1000.0);

    std::vector<std::string> radio = kRadioCounters;
    radio.push_back("continue");
    radio.insert(radio.end(), kRadioCounters.begin(), kRadioCounters.end());
    auto co = melon->debugSession("arm7", VX_ARM7_ELF, radio, error);
    if (!co || !vxtest::waitForOutput(*co, vxtest::containing("timedout = "), 30s)) {
        std::fprintf(stderr, "no co-processor session: %s\n", error.c_str());
        return 1;
    }

    // Right held, the counters read (the emulation stands still meanwhile),
    // and then a grace second for the records still on their way, which
    // take a few milliseconds.
    const int recordsBefore = records(server->outSoFar());
    melon->keyDown(XK_Right);
    std::this_thread::sleep_for(std::chrono::seconds(held));
    melon->keyUp(XK_Right);
    co->terminate(SIGINT);
    const auto coDone = co->wait(30s);
    main->terminate(SIGINT);
    const auto mainDone = main->wait(30s);
    std::this_thread::sleep_for(1s);

    // The server logs a record only when it changes (X stops at 255); its
    // summary counts them all.
    server->terminate(SIGINT);
    const auto serverDone = server->wait(10s);
    std::smatch summary;
    const long received = std::regex_search(serverDone.out, summary, std::regex(R"((\d+) state records)"))
                              ? std::stol(summary[1]) - recordsBefore
                              : -1;
    const long sent = delta(mainDone.out, "tx");
    std::printf("held Right: %d s of wall time, %.1f s of the handheld's (its 50 ms timer)\n", held,
                delta(mainDone.out, "now") / 1000.0);
    std::printf("frames the stack sent: %ld (ring full: %ld); the radio: %ld sent, %ld failed, %ld timed out\n", sent,
                delta(mainDone.out, "ringfull"), delta(coDone.out, "sent"), delta(coDone.out, "failed"),
                delta(coDone.out, "timedout"));
    std::printf("frames the radio received meanwhile: %ld, its receive ring started afresh: %ld times\n",
                delta(coDone.out, "received"), delta(coDone.out, "resets"));
    std::printf("state records received by the server: %ld, lost: %ld (%.2f %%)\n", received, sent - received,
                sent > 0 ? 100.0 * (sent - received) / sent : 0.0);
    // What else the server said (ignored datagrams, say, and its summary).
    std::istringstream log(serverDone.out + serverDone.err);
    for (std::string l; std::getline(log, l);)
        if (l.rfind("state id ", 0) != 0) std::printf("server: %s\n", l.c_str());
    return 0;
}
