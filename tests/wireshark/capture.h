// A live capture on the loopback interface with dumpcap, limited to UDP to or
// from one address, and the vx dissector's view of it through tshark.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "process.h"
#include "udp_peer.h"

namespace vxshark {

class Capture {
public:
    // Starts dumpcap and returns once a datagram sent after the start shows
    // up in its output. On failure returns nullptr with the reason, and
    // `denied` set when the reason is a lack of capture permission.
    static std::unique_ptr<Capture> start(const std::string& address, std::string& error, bool& denied);

    // Waits until everything sent so far is captured, stops dumpcap and
    // writes the capture file.
    bool finish(const std::string& path, std::string& error);

    ~Capture();

private:
    Capture() = default;
    // Sends a datagram that no one else sends and waits until it is captured.
    bool mark(std::string& error);

    std::unique_ptr<vxtest::Process> dumpcap_;
    std::unique_ptr<vxtest::UdpPeer> marker_;
    int marks_ = 0;
};

// One datagram as the dissector shows it; absent fields are empty.
struct VxRow {
    std::string source, destination;  // "a.b.c.d:port"
    std::string kind;
    std::optional<int32_t> userID, x, y;
    std::optional<uint32_t> length;
    std::vector<std::string> experts;  // names of the expert infos raised
    std::string expertText;            // their messages
};

// The vx datagrams of a capture file, in capture order. `preferences` are
// tshark -o settings such as "vx.state_ports:9781". Returns nullopt with the
// reason when tshark fails.
std::optional<std::vector<VxRow>> readVx(const std::string& file, const std::vector<std::string>& preferences,
                                         std::string& error);

// The same datagrams as tshark prints them by default, for a person to read.
std::string summaryListing(const std::string& file);

}  // namespace vxshark
