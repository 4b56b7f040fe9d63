#include "handheld.h"

#include <cctype>
#include <chrono>
#include <cstring>
#include <ostream>

#include "bounds.h"
#include "stand_ins.h"

namespace hhtest {

namespace {

constexpr uint32_t kFramebuffer = 0x06800000;
constexpr uint32_t kTransferRegion = 0x027FF000;
constexpr uint32_t kMainMemory = 0x02000000, kMainMemorySize = 4u << 20;
constexpr int kRowsDrawn = 193;

}  // namespace

vxsim::ProgramImage realProgram(Cpu cpu) {
    vxsim::ProgramImage image;
    std::string error;
    if (!vxsim::loadProgramModule(cpu == Cpu::Main ? VX_ARM9_MODULE : VX_ARM7_MODULE, image, error)) {
        ADD_FAILURE() << error;
    }
    return image;
}

vxsim::ProgramImage standIn(Cpu cpu) {
    vxsim::ProgramImage image;
    image.name = cpu == Cpu::Main ? "main stand-in" : "co stand-in";
    image.entry = cpu == Cpu::Main ? mainStandIn : coStandIn;
    return image;
}

std::string consoleCompact(const Handheld& h) { return compact(h.consoleText()); }

uint16_t framebufferPixel(const Handheld& h, int row, int column) {
    uint16_t p = 0xFFFF;
    if (!h.machine.readMemory(kFramebuffer + 512u * row + 2u * column, &p, sizeof p)) {
        ADD_FAILURE() << "bank A is not mapped for the processor at 0x06800000";
    }
    return p;
}

uint32_t transferField(const Handheld& h, int offset, int bytes) {
    uint8_t p[4] = {};
    if (!h.machine.readMemory(kTransferRegion + offset, p, bytes)) {
        ADD_FAILURE() << "main memory is not mapped at 0x027FF000";
        return 0;
    }
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

void setTransferField(Handheld& h, int offset, int bytes, uint32_t value) {
    uint8_t p[4];
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
    if (!h.machine.writeMemory(kTransferRegion + offset, p, bytes))
        ADD_FAILURE() << "main memory is not mapped at 0x027FF000";
}

std::string compact(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (!std::isspace(static_cast<unsigned char>(c))) out += c;
    }
    return out;
}

std::vector<std::string> consoleRows(const std::string& text) {
    constexpr int kCols = 32, kRows = 24;
    std::vector<std::string> rows(kRows, std::string(kCols, ' '));
    int row = 0, col = 0;
    for (char ch : text) {
        if (ch == '\n') {
            col = 0;
            ++row;
            continue;
        }
        if (col == kCols) {
            col = 0;
            ++row;
        }
        if (row >= kRows) {
            rows.erase(rows.begin());
            rows.push_back(std::string(kCols, ' '));
            row = kRows - 1;
        }
        rows[row][col++] = ch;
    }
    for (std::string& r : rows) r.erase(r.find_last_not_of(' ') + 1);
    return rows;
}

namespace {

std::string startMessages(const std::string& connect, const std::string& handle) {
    return "Attempting to initialise Wifi.. \n"
           "Wifi initialised.. \n"
           "Connecting via WFC data\n" +
           connect + "Attempting to connect to server..\n" + "socket created \n handle value = " + handle +
           " \nsending ADDME packet to server\n";
}

}  // namespace

std::string consoleThroughAck(const std::string& handle, int32_t id) {
    return startMessages("Connected successfully!\n", handle) + "sent ADDME OK: bytes = 5\n" +
           "Received ACK. UserID: " + std::to_string(id);
}

std::string consoleThroughFailedReceive(const std::string& handle) {
    return startMessages("Could not connect!\n", handle) + "didnt sent the right amount of bytes..? bytes:-1 \n" +
           "Error receiving ACK packet from server \n";
}

std::string socketHandle(const Handheld& h) {
    auto calls = h.entries(Cpu::Main, TraceKind::Call, "socket(2, 2, 0)=");
    if (calls.empty()) return "<no socket call>";
    return calls.front().text.substr(calls.front().text.find(")=") + 2);
}

std::ostream& operator<<(std::ostream& os, const Area& a) {
    return os << "{" << a.count << " px, rows " << a.top << ".." << a.bottom << ", columns " << a.left << ".."
              << a.right << (a.allRed ? ", red 31" : ", not all red 31") << "}";
}

Area areaOf(int rows, const std::function<bool(int, int)>& lit, const std::function<bool(int, int)>& red) {
    vxtest::Bounds box;
    bool allRed = true;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < 256; ++c) {
            if (!lit(r, c)) continue;
            box.add(c, r);
            allRed = allRed && red(r, c);
        }
    }
    if (box.count == 0) return Area{};
    return Area{box.count, box.minY, box.maxY, box.minX, box.maxX, allRed};
}

Area litArea(const Handheld& h) {
    std::vector<uint16_t> fb(256 * kRowsDrawn);
    if (!h.machine.readMemory(kFramebuffer, fb.data(), fb.size() * sizeof fb[0])) {
        ADD_FAILURE() << "bank A is not mapped for the processor at 0x06800000";
        return Area{};
    }
    auto at = [&](int r, int c) { return fb[r * 256 + c]; };
    return areaOf(
        kRowsDrawn, [&](int r, int c) { return at(r, c) != 0; }, [&](int r, int c) { return at(r, c) == 31; });
}

Area drawnSquare(Handheld& h) {
    std::vector<Area> seen;
    for (int i = 0; i < 3; ++i) {
        Area a = litArea(h);
        if (a.count > 0) seen.push_back(a);
        h.machine.runFrames(1);
    }
    if (seen.empty()) return Area{};
    for (const Area& a : seen) EXPECT_EQ(a, seen.front()) << "the square changed while no key was held";
    EXPECT_GE(seen.size(), 2u) << "a pass shows the cleared screen for one frame only";
    return seen.front();
}

Area expectedSquare(int x, int y) {
    Area a;
    int top = std::max(0, 192 - y - 5), bottom = std::min(192, 192 - y + 5);
    int left = std::max(0, x - 5), right = std::min(255, x + 5);
    if (top > bottom || left > right) return a;
    a.top = top;
    a.bottom = bottom;
    a.left = left;
    a.right = right;
    a.count = (bottom - top + 1) * (right - left + 1);
    return a;
}

std::unique_ptr<Session> Session::start(const Options& options, std::string& error) {
    auto s = std::make_unique<Session>();
    vxtest::PeerOptions reg;
    reg.reply = vxtest::answer({'A', 'D', 'D', 'M', 'E'}, options.ack, options.acks);
    reg.replyAddress = options.ackFromAddress;
    s->registrar = LoopbackPeer::start(reg, error);
    if (!s->registrar) return nullptr;
    s->states = LoopbackPeer::start(vxtest::PeerOptions{}, error);
    if (!s->states) return nullptr;
    vxsim::MachineConfig config = options.config;
    config.forwards.push_back(vxsim::PortForward{80, 0x7F000001, s->registrar->port()});
    if (options.stateForward) config.forwards.push_back(vxsim::PortForward{9780, 0x7F000001, s->states->port()});
    s->handheld = std::make_unique<Handheld>(config, realProgram(Cpu::Main), realProgram(Cpu::Co), false);
    if (options.memoryFill) {
        std::vector<uint8_t> fill(kMainMemorySize, *options.memoryFill);
        if (!s->handheld->machine.writeMemory(kMainMemory, fill.data(), fill.size())) {
            error = "main memory is not mapped at 0x02000000";
            return nullptr;
        }
    }
    s->handheld->machine.powerOn();
    return s;
}

std::unique_ptr<Session> startPlaying(const Session::Options& options) {
    std::string error;
    auto s = Session::start(options, error);
    if (!s) {
        ADD_FAILURE() << error;
        return nullptr;
    }
    if (!s->untilPlaying()) {
        ADD_FAILURE() << "the play loop never ran";
        return nullptr;
    }
    return s;
}

bool Session::untilPlaying(uint64_t maxFrames) {
    auto returned = [this] {
        for (const TraceEntry& e : handheld->entries(Cpu::Main, TraceKind::Call, "recvfrom(")) {
            if (e.text.find("waiting") == std::string::npos) return true;
        }
        return false;
    };
    if (!handheld->machine.runUntil(returned, maxFrames)) return false;
    handheld->machine.runFrames(3 * kPassFrames);
    return true;
}

void Session::hold(uint32_t keys, uint64_t passes) {
    // In chunks, letting the stand-in catch up, so that a long hold never
    // overruns its socket's receive buffer.
    constexpr uint64_t kChunk = 20;
    handheld->machine.setKeys(keys);
    for (uint64_t done = 0; done < passes; done += kChunk) {
        handheld->machine.runFrames(std::min(kChunk, passes - done) * kPassFrames);
        // Once records go missing, records() reports it; no use waiting again.
        if (!missing)
            missing =
                !(sink ? sink : states.get())->waitFor(static_cast<size_t>(stateSends()), std::chrono::seconds(5));
    }
    handheld->machine.setKeys(0);
    handheld->machine.runFrames(2 * kPassFrames);
}

int Session::stateSends() const {
    int n = 0;
    for (const TraceEntry& e : handheld->entries(Cpu::Main, TraceKind::Call, "sendto(")) {
        n += e.text.find(" 12 bytes") != std::string::npos && e.text.find(")=12") != std::string::npos;
    }
    return n;
}

std::vector<State> Session::records() {
    int sent = stateSends();
    EXPECT_TRUE(states->waitFor(static_cast<size_t>(sent), std::chrono::seconds(5)))
        << "only " << states->received().size() << " of " << sent << " state records arrived";
    // Anything more would be a datagram the program did not report sending.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    int bad = 0;
    std::vector<State> out = hhtest::states(states->received(), &bad);
    EXPECT_EQ(bad, 0) << "datagrams on the state port that are not 12 bytes";
    return out;
}

std::vector<State> states(const std::vector<PeerDatagram>& received, int* bad) {
    std::vector<State> out;
    int wrong = 0;
    for (const PeerDatagram& d : received) {
        if (auto record = vxtest::decodeState(d.data)) {
            out.push_back(*record);
        } else {
            ++wrong;
        }
    }
    if (bad) *bad = wrong;
    return out;
}

}  // namespace hhtest
