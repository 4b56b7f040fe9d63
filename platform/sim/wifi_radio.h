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

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vxsim::wifiradio {

struct Datagram {
    int socket = -1;
    uint32_t address = 0;  // source, network order, as the handheld sees it
    uint16_t port = 0;     // source, network order, as the handheld sees it
    std::vector<uint8_t> data;
};

// Powers the chip up afresh for a newly attached co-processor half: host
// sockets closed, queues emptied, polling of the host started.
void reset();

// Sends `length` bytes from handheld socket `socket` to address:port (network
// order). Returns false when the host refused it; the datagram is then lost,
// as on air.
bool transmit(int socket, uint32_t address, uint16_t port, const uint8_t* data, size_t length);

// Releases the host socket behind a handheld socket (if any).
void close(int socket);

// Host descriptor behind a handheld socket, or -1 before its first send.
int hostFd(int socket);

// The oldest datagram not yet taken by the co-processor.
bool takeDatagram(Datagram& out);
// Puts a datagram back at the front when the co-processor had no room for it.
void returnDatagram(Datagram&& datagram);

// A chip timer: after `delayCycles`, `tag` becomes pending and IRQ_WIFI is
// raised on the co-processor.
void startTimer(uint64_t delayCycles, uint32_t tag);
bool takeTimer(uint32_t& tag);

}  // namespace vxsim::wifiradio

#endif
