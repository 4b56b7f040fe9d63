// The handheld's IPv4 stack, above Ethernet II frames: ARP, IPv4 without
// fragments, UDP, echo replies and a DHCP client, and a small table of UDP
// sockets with receive queues.
//
// It owns no clock and no hardware: the caller passes the time in
// milliseconds to every call that needs it and hands outgoing frames to an
// emit function, so the same code runs on the handheld and in host tests.
// All storage is inside the object; nothing is allocated. Addresses are in
// host order (10.64.0.1 is 0x0A400001), ports too.
#ifndef VX_NET_IPSTACK_H
#define VX_NET_IPSTACK_H

#include <stdint.h>

#include "dhcp.h"

namespace vxip {

constexpr uint32_t kEthHeader = 14;
constexpr uint32_t kEthMtu = 1500;
constexpr uint32_t kFrameMax = kEthHeader + kEthMtu;
constexpr uint32_t kIpHeader = 20;
constexpr uint32_t kUdpHeader = 8;
// The largest UDP payload that fits one frame: nothing is fragmented.
constexpr uint32_t kMaxDatagram = kEthMtu - kIpHeader - kUdpHeader;

constexpr uint16_t kTypeIpv4 = 0x0800;
constexpr uint16_t kTypeArp = 0x0806;

constexpr int kSockets = 8;
constexpr int kRxBuffers = 16;  // datagrams waiting in all sockets together
constexpr int kHeldFrames = 4;  // datagrams waiting for an address to resolve
constexpr int kArpEntries = 8;

// Time-outs, in milliseconds.
constexpr uint32_t kArpRetryMs = 1000;
constexpr uint32_t kArpTries = 3;
constexpr uint32_t kArpLifetimeMs = 10 * 60 * 1000;
constexpr uint32_t kDhcpFirstWaitMs = 1000;
constexpr uint32_t kDhcpLongestWaitMs = 4000;
constexpr uint32_t kDhcpTries = 5;  // messages sent without an answer before giving up
constexpr uint32_t kDhcpRenewRetryMs = 60 * 1000;

// What became of each received frame: exactly one of these is counted per
// frame handed to receive().
enum class Rx : uint8_t {
    ArpAnswered,     // a request for our address, answered
    ArpLearnt,       // a reply (or a request from a neighbour) taken into the cache
    ArpOther,        // for another address: nothing to do
    Delivered,       // a UDP datagram queued on a socket
    EchoAnswered,    // an ICMP echo request, answered
    DhcpTaken,       // a DHCP message the client acted on
    DropDown,        // the link is down
    DropLength,      // shorter than a header, or longer than a frame
    DropNotForUs,    // hardware destination neither ours nor broadcast
    DropType,        // neither IPv4 nor ARP
    DropArp,         // malformed ARP
    DropIp,          // malformed IPv4 header (version, lengths, options)
    DropIpChecksum,  // IPv4 header checksum wrong
    DropFragment,    // part of a fragmented datagram
    DropNoAddress,   // IPv4 before we have an address (other than DHCP)
    DropNotOurIp,    // IPv4 for another address
    DropProtocol,    // neither UDP nor ICMP
    DropUdp,         // malformed UDP header
    DropUdpChecksum,
    DropNoSocket,   // no socket on that port
    DropQueueFull,  // no receive buffer left
    DropTooLarge,   // larger than a socket's buffer
    DropIcmp,       // malformed, wrong checksum, or not an echo request for us
    DropDhcp,       // malformed DHCP, or not for our exchange
    Count
};
const char* rxName(Rx outcome);

// Outgoing frames that never left, besides those emitted.
struct TxCounters {
    uint32_t frames = 0;      // handed to emit and taken
    uint32_t emitFailed = 0;  // emit refused (ring full)
    uint32_t unresolved = 0;  // datagrams whose next hop never answered ARP
    uint32_t heldFull = 0;    // no room to hold a datagram while resolving
    uint32_t refused = 0;     // destinations a socket may not send to
};

struct Config {
    uint32_t address = 0;
    uint32_t subnetMask = 0;
    uint32_t gateway = 0;
    uint32_t dns[2] = {};
};

enum class DhcpState : uint8_t { Off, Selecting, Requesting, Bound, Renewing, Rebinding, Failed, Fixed };

// Results of sendTo other than a length.
enum SendError : int {
    kSendBadSocket = -1,
    kSendNoAddress = -2,
    kSendBadLength = -3,
    kSendNoRoom = -4,
};

// Returns false when the frame cannot be taken now (it is then dropped).
using EmitFrame = bool (*)(void* context, const uint8_t* frame, uint32_t length);

class Stack {
public:
    // Everything back to the start: no link, no sockets, no counts.
    void init(EmitFrame emit, void* context);

    // The link carries frames, and `mac` is our hardware address on it: use
    // `fixed` when its address is set, else ask DHCP. Starts address set-up
    // afresh; open sockets stay open.
    void linkUp(const uint8_t mac[6], const Config& fixed, uint32_t now);
    // The link is gone: address, cache and held datagrams go; sockets stay.
    void linkDown();

    bool hasAddress() const;
    bool gaveUp() const { return dhcp_ == DhcpState::Failed; }
    DhcpState dhcpState() const { return dhcp_; }
    const Config& config() const { return config_; }

    void receive(const uint8_t* frame, uint32_t length, uint32_t now);
    // Retries and time-outs; call it often (every 50 ms will do).
    void tick(uint32_t now);

    int openSocket();
    bool closeSocket(int s);
    bool isOpen(int s) const { return s >= 0 && s < kSockets && sockets_[s].open; }
    uint16_t localPort(int s) const { return isOpen(s) ? sockets_[s].port : 0; }
    // A datagram of `length` bytes to `address`:`port`, sent now or held
    // until the next hop's hardware address is known. Returns `length` or a
    // SendError.
    int sendTo(int s, uint32_t address, uint16_t port, const uint8_t* data, uint32_t length, uint32_t now);
    bool hasDatagram(int s) const { return isOpen(s) && sockets_[s].head >= 0; }
    // The oldest datagram of socket `s`: up to `room` bytes into `out`, the
    // rest discarded. Returns the bytes copied, or -1 when none waits.
    int receiveFrom(int s, uint8_t* out, uint32_t room, uint32_t* address, uint16_t* port);

    uint32_t count(Rx outcome) const { return rx_[static_cast<int>(outcome)]; }
    uint32_t framesReceived() const { return received_; }
    const TxCounters& tx() const { return tx_; }

private:
    struct ArpEntry {
        uint32_t address;
        uint32_t stamp;  // when resolved, or when last asked
        uint8_t mac[6];
        uint8_t state;  // 0 free, 1 asking, 2 known
        uint8_t tries;
    };
    struct Held {
        bool used;
        uint32_t nextHop;
        uint32_t length;
        uint8_t frame[kFrameMax];
    };
    struct RxBuffer {
        int16_t next;
        uint16_t length;
        uint16_t port;
        uint32_t address;
        uint8_t data[kMaxDatagram];
    };
    struct Socket {
        bool open;
        uint16_t port;
        int16_t head;
        int16_t tail;
    };

    void tally(Rx outcome) { ++rx_[static_cast<int>(outcome)]; }
    bool emitFrame(uint8_t* frame, const uint8_t* destination, uint16_t type, uint32_t length);
    void receiveArp(const uint8_t* frame, uint32_t length, uint32_t now);
    void receiveIp(const uint8_t* frame, uint32_t length, uint32_t now);
    void receiveUdp(const uint8_t* udp, uint32_t length, uint32_t source, uint32_t destination, uint32_t now);
    void receiveIcmp(const uint8_t* frame, const uint8_t* icmp, uint32_t length, uint32_t source, bool toUs);
    void receiveDhcp(const uint8_t* data, uint32_t length, uint32_t now);

    void sendArp(uint16_t operation, const uint8_t* targetMac, uint32_t targetAddress);
    ArpEntry* findArp(uint32_t address);
    ArpEntry* newArp(uint32_t address);
    void learn(uint32_t address, const uint8_t* mac, bool create, uint32_t now);
    uint32_t nextHop(uint32_t destination) const;
    bool isBroadcast(uint32_t address) const;
    // Writes IPv4 and UDP headers in front of the payload at frame + 42.
    uint32_t frameUdp(uint8_t* frame, uint32_t source, uint32_t destination, uint16_t sourcePort,
                      uint16_t destinationPort, uint32_t payload);
    void writeIpHeader(uint8_t* ip, uint8_t protocol, uint32_t source, uint32_t destination, uint32_t payload);
    int sendIp(uint8_t* frame, uint32_t length, uint32_t destination, uint32_t now);

    void startDhcp(uint32_t now);
    void sendDhcp(uint8_t type, uint32_t now);
    void dhcpWait(uint32_t now);
    void bind(const DhcpReply& ack, uint32_t now);
    uint16_t freePort();

    uint8_t mac_[6] = {};
    EmitFrame emit_ = nullptr;
    void* context_ = nullptr;
    bool up_ = false;
    Config config_{};
    uint16_t ipId_ = 0;
    uint16_t nextPort_ = 0;

    DhcpState dhcp_ = DhcpState::Off;
    uint32_t xid_ = 0;
    uint32_t xidSeed_ = 0;
    uint32_t offered_ = 0;
    uint32_t server_ = 0;
    uint32_t dhcpDeadline_ = 0;
    uint32_t dhcpTries_ = 0;
    uint32_t leaseStart_ = 0;
    uint32_t renewAt_ = 0;  // ms after leaseStart_; 0 = never
    uint32_t rebindAt_ = 0;
    uint32_t expireAt_ = 0;

    ArpEntry arp_[kArpEntries] = {};
    Held held_[kHeldFrames] = {};
    RxBuffer buffers_[kRxBuffers] = {};
    int16_t freeBuffer_ = 0;  // the list is made by init(); every default is 0, so the object costs no image bytes
    Socket sockets_[kSockets] = {};

    uint32_t rx_[static_cast<int>(Rx::Count)] = {};
    uint32_t received_ = 0;
    TxCounters tx_{};
    uint8_t out_[kFrameMax] = {};  // the frame being built
};

}  // namespace vxip

#endif
