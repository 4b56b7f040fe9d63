// The simulated handheld with the real client programs (or a stand-in for
// one processor), and what a test reads back: trace, console, framebuffer,
// transfer region, and loopback stand-ins for the game server.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "handheld_fixture.h"
#include "loopback_peer.h"
#include "state_records.h"

namespace hhtest {

using vxsim::Cpu;
using vxsim::TraceEntry;
using vxsim::TraceKind;
using vxtest::findFrom;
using vxtest::Handheld;
using vxtest::LoopbackPeer;
using vxtest::PeerDatagram;
using State = vxProtocol;

// Key bits of the keypad (KEY_* of the handheld's header; 1 = held here).
constexpr uint32_t kA = 1u << 0, kRight = 1u << 4, kLeft = 1u << 5, kUp = 1u << 6, kDown = 1u << 7;
constexpr uint32_t kX = 1u << 10;

constexpr uint64_t kTimer3Period = 6553ull * 256;  // bus cycles between overflows
constexpr uint64_t kPassFrames = 3;                // vertical blanks per pass of the play loop

// The real program of a processor, loaded from the build; ADD_FAILURE and an
// image without entry when it cannot be loaded.
vxsim::ProgramImage realProgram(Cpu cpu);
vxsim::ProgramImage standIn(Cpu cpu);  // the test's own part for that processor

// The console's text with whitespace removed (which does not depend on
// where rows wrap).
std::string consoleCompact(const Handheld& h);

// Main-processor framebuffer (bank A, processor-mapped), row 0..192.
uint16_t framebufferPixel(const Handheld& h, int row, int column);

// Little-endian field of the transfer region at 0x027FF000.
uint32_t transferField(const Handheld& h, int offset, int bytes);
void setTransferField(Handheld& h, int offset, int bytes, uint32_t value);

// Whitespace removed.
std::string compact(const std::string& text);

// The rows that `text` leaves on a fresh 32 x 24 text console that wraps
// full rows and scrolls when a character goes below the last row, trailing
// blanks trimmed, as consoleLines() reports them.
std::vector<std::string> consoleRows(const std::string& text);

// What the console shows once the ACK has come in, with the socket handle
// and identifier the session had; and once the receive has failed, when no
// access point was joined.
std::string consoleThroughAck(const std::string& handle, int32_t id);
std::string consoleThroughFailedReceive(const std::string& handle);
// The handle that socket() gave the program, from the trace.
std::string socketHandle(const Handheld& h);

// Where the nonzero pixels of the 193 drawn rows are.
struct Area {
    int count = 0, top = 0, bottom = -1, left = 0, right = -1;
    bool allRed = true;  // every lit pixel is exactly 31
    bool operator==(const Area&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Area& a);
// The area of a picture 256 wide and `rows` high, read through `lit` and
// `red` (each given row and column).
Area areaOf(int rows, const std::function<bool(int, int)>& lit, const std::function<bool(int, int)>& red);
Area litArea(const Handheld& h);
// The square as a pass leaves it: the loop clears the framebuffer, waits a
// frame, then draws, so across three frame boundaries at least two show it.
// Fails the test if two of them disagree.
Area drawnSquare(Handheld& h);
// The 11 x 11 square of the tank at (x, y), clipped to rows 0..192 and
// columns 0..255.
Area expectedSquare(int x, int y);

// The real programs with stand-ins for the server on loopback: "ADDME" to
// port 80 reaches `registrar`, state records to port 9780 reach `states`.
struct Session {
    struct Options {
        std::vector<uint8_t> ack = vxtest::encodeId(7);
        int acks = 1;
        std::string ackFromAddress;  // answer from another address
        bool stateForward = true;    // no forward: states go where the ACK says
        vxsim::MachineConfig config;
        // Main memory holds this byte everywhere at power-on, as leftovers of
        // an earlier run would.
        std::optional<uint8_t> memoryFill;
    };
    static std::unique_ptr<Session> start(const Options& options, std::string& error);

    // Runs until the ACK receive has returned (or failed), then three passes
    // more, so that the play loop runs.
    bool untilPlaying(uint64_t maxFrames = 600);
    // Holds `keys` for `passes` passes of the loop, then lets go for two.
    void hold(uint32_t keys, uint64_t passes);
    // State sends the program made so far (from the trace), and the records
    // that reached `states` once they have all arrived.
    int stateSends() const;
    std::vector<State> records();

    std::unique_ptr<LoopbackPeer> registrar, states;
    LoopbackPeer* sink = nullptr;  // where state records land, when not at `states`
    bool missing = false;          // a hold found records missing
    std::unique_ptr<Handheld> handheld;
};

// Session::start, then untilPlaying; null, with the test failed, if either fails.
std::unique_ptr<Session> startPlaying(const Session::Options& options = {});

// The state records among `received`, in arrival order; every datagram must
// be exactly 12 bytes, else `bad` counts it.
std::vector<State> states(const std::vector<PeerDatagram>& received, int* bad = nullptr);

}  // namespace hhtest
