// The simulated radio: the host side of the co-processor's wireless chip.
//
// It carries datagrams between the handheld and real host UDP sockets (one
// per handheld socket, created at its first send), applies the machine's port
// forwards, and runs the chip's timers. Everything it has for the
// co-processor (arrived datagrams, expired timers) waits in its queues and is
// announced by IRQ_WIFI on the co-processor.
//
// Kept free of host socket headers so that the library halves, which see the
// handheld's own socket layer, can include it.
#ifndef VXSIM_WIFI_RADIO_H
#define VXSIM_WIFI_RADIO_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <vector>

#include "hw.h"

namespace vxsim::wifi {

struct Datagram {
    int socket = -1;
    uint32_t address = 0;  // source, network order, as the handheld sees it
    uint16_t port = 0;     // source, network order, as the handheld sees it
    std::vector<uint8_t> data;
};

class Radio {
public:
    Radio() = default;
    ~Radio();
    Radio(const Radio&) = delete;
    Radio& operator=(const Radio&) = delete;

    // Powers the chip up afresh for a newly attached co-processor half: host
    // sockets closed, queues emptied, pending timers dropped, polling of the
    // host started, and the machine's waits for the network spent watching
    // its sockets.
    void reset();

    // Sends `length` bytes from handheld socket `socket` to address:port
    // (network order). Returns false when the host refused it; the datagram
    // is then lost, as on air.
    bool transmit(int socket, uint32_t address, uint16_t port, const uint8_t* data, size_t length);

    // Releases the host socket behind a handheld socket (if any).
    void close(int socket);

    // The oldest datagram not yet taken by the co-processor.
    bool takeDatagram(Datagram& out);

    // A chip timer: after `delayCycles`, `tag` becomes pending and IRQ_WIFI is
    // raised on the co-processor.
    void startTimer(uint64_t delayCycles, uint32_t tag);
    bool takeTimer(uint32_t& tag);

private:
    void pollHost();
    void waitForHost(std::chrono::steady_clock::time_point deadline);
    int openHostSocket(int socket);
    void closeAll();

    std::map<int, int> fds_;  // handheld socket -> host descriptor
    std::deque<Datagram> received_;
    std::deque<uint32_t> timers_;
    PeriodicEvent poller_;
    std::map<uint64_t, hw::EventId> timerEvents_;  // started and not yet expired
    uint64_t nextTimer_ = 0;
    std::vector<uint8_t> buffer_ = std::vector<uint8_t>(65536);
};

}  // namespace vxsim::wifi

#endif
