#include "ipc.h"

#include <nds.h>

#include "format.h"

namespace vxsim {

namespace {

enum : uint8_t { kSync, kControl, kSend, kReceive };

constexpr Register kRegisters[] = {
    {0x04000180, 2, SeenBy::Both, "REG_IPC_SYNC", kSync},
    {0x04000184, 2, SeenBy::Both, "REG_IPC_FIFO_CR", kControl},
    {0x04000188, 4, SeenBy::Both, "REG_IPC_FIFO_TX", kSend, kTracesItself},
    {0x04100000, 4, SeenBy::Both, "REG_IPC_FIFO_RX", kReceive, kReadTakes},
};

// Sync: bits 8-11 are the nibble this side shows the other (which reads it
// in bits 0-3), bit 14 lets the other side interrupt this one; only those
// are stored. Bit 13 is a trigger: written as 1, it interrupts the other
// side if that side allows it.
constexpr uint16_t kSyncStored = 0x4F00;
constexpr uint16_t kSyncTrigger = 0x2000, kSyncIrqEnable = 0x4000;

}  // namespace

std::span<const Register> Ipc::registers() const { return kRegisters; }

uint32_t Ipc::read(Cpu cpu, unsigned id, bool peek) {
    switch (id) {
    case kSync:
        return (sides_[idx(cpu)].sync & kSyncStored) | ((sides_[idx(other(cpu))].sync >> 8) & 0xFu);
    case kControl:
        return readControl(cpu);
    case kReceive:
        return receive(cpu, peek);
    default:
        return 0;  // the send FIFO is write-only
    }
}

void Ipc::write(Cpu cpu, unsigned id, uint32_t value, uint32_t mask) {
    Side& s = sides_[idx(cpu)];
    switch (id) {
    case kSync:
        s.sync = static_cast<uint16_t>(merge(s.sync, value, mask & kSyncStored));
        if ((mask & 0xFF00u) && (value & kSyncTrigger) && (sides_[idx(other(cpu))].sync & kSyncIrqEnable)) {
            board_.requestIrq(other(cpu), IRQ_IPC_SYNC);
        }
        break;
    case kControl:
        writeControl(cpu, value, mask);
        break;
    case kSend:
        send(cpu, value & mask);
        break;
    default:
        break;  // the receive FIFO is read-only
    }
}

uint32_t Ipc::readControl(Cpu cpu) const {
    const Side& s = sides_[idx(cpu)];
    const WordFifo& recv = sides_[idx(other(cpu))].send;
    uint32_t v = 0;
    if (s.send.empty()) v |= IPC_FIFO_SEND_EMPTY;
    if (s.send.full()) v |= IPC_FIFO_SEND_FULL;
    if (s.sendIrq) v |= IPC_FIFO_SEND_IRQ;
    if (recv.empty()) v |= IPC_FIFO_RECV_EMPTY;
    if (recv.full()) v |= IPC_FIFO_RECV_FULL;
    if (s.recvIrq) v |= IPC_FIFO_RECV_IRQ;
    if (s.error) v |= IPC_FIFO_ERROR;
    if (s.enable) v |= IPC_FIFO_ENABLE;
    return v;
}

// The interrupts are edges: the sender's when its FIFO runs empty (or is
// found empty as the interrupt is turned on), the receiver's when its FIFO
// stops being empty (or is found so as it is turned on).
void Ipc::writeControl(Cpu cpu, uint32_t value, uint32_t mask) {
    Side& s = sides_[idx(cpu)];
    if (mask & 0x00FFu) {  // the send side's half
        bool was = s.sendIrq;
        s.sendIrq = value & IPC_FIFO_SEND_IRQ;
        if (value & IPC_FIFO_SEND_CLEAR) s.send.clear();
        if (s.send.empty() && s.sendIrq && (!was || (value & IPC_FIFO_SEND_CLEAR))) {
            board_.requestIrq(cpu, IRQ_FIFO_EMPTY);
        }
    }
    if (mask & 0xFF00u) {  // the receive side's half, the error and the enable
        bool was = s.recvIrq;
        s.recvIrq = value & IPC_FIFO_RECV_IRQ;
        if (value & IPC_FIFO_ERROR) s.error = false;  // writing 1 acknowledges
        s.enable = value & IPC_FIFO_ENABLE;
        if (!was && s.recvIrq && !sides_[idx(other(cpu))].send.empty()) board_.requestIrq(cpu, IRQ_FIFO_NOT_EMPTY);
    }
}

void Ipc::send(Cpu cpu, uint32_t word) {
    Side& s = sides_[idx(cpu)];
    if (!s.enable) {
        board_.trace(cpu, TraceKind::FifoSend, hex(word, 8) + " ignored (FIFO disabled)");
        return;
    }
    if (s.send.full()) {
        s.error = true;
        board_.trace(cpu, TraceKind::FifoSend, hex(word, 8) + " lost (FIFO full)");
        return;
    }
    bool wasEmpty = s.send.empty();
    s.send.push(word);
    board_.trace(cpu, TraceKind::FifoSend, hex(word, 8));
    if (wasEmpty && sides_[idx(other(cpu))].recvIrq) board_.requestIrq(other(cpu), IRQ_FIFO_NOT_EMPTY);
}

// A disabled FIFO shows its front word without taking it; reading an empty
// one is an error and repeats the last word taken.
uint32_t Ipc::receive(Cpu cpu, bool peek) {
    Side& s = sides_[idx(cpu)];
    Side& o = sides_[idx(other(cpu))];
    WordFifo& recv = o.send;
    if (peek || !s.enable) return recv.front();
    if (recv.empty()) {
        s.error = true;
        return recv.last;
    }
    uint32_t w = recv.pop();
    board_.trace(cpu, TraceKind::FifoRecv, hex(w, 8));
    if (recv.empty() && o.sendIrq) board_.requestIrq(other(cpu), IRQ_FIFO_EMPTY);
    return w;
}

}  // namespace vxsim
