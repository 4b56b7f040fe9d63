// The link between the two processors: the sync register (a nibble each way
// and an interrupt on request) and the two 16-word FIFOs, one per direction.
#ifndef VXSIM_IPC_H
#define VXSIM_IPC_H

#include "device.h"

namespace vxsim {

class Ipc : public Device {
public:
    explicit Ipc(Board& board) : board_(board) {}

    std::span<const Register> registers() const override;
    uint32_t read(Cpu cpu, unsigned id, bool peek) override;
    void write(Cpu cpu, unsigned id, uint32_t value, uint32_t mask) override;

private:
    struct WordFifo {
        uint32_t words[16] = {};
        unsigned head = 0, count = 0;
        uint32_t last = 0;  // what a read of an empty FIFO returns
        bool empty() const { return count == 0; }
        bool full() const { return count == 16; }
        void push(uint32_t w) { words[(head + count++) & 15] = w; }
        uint32_t front() const { return count ? words[head] : last; }
        uint32_t pop() {
            last = words[head];
            head = (head + 1) & 15;
            --count;
            return last;
        }
        void clear() { head = count = 0; }
    };
    struct Side {
        uint16_t sync = 0;
        bool enable = false, sendIrq = false, recvIrq = false, error = false;
        WordFifo send;  // this processor's send FIFO is the other's receive FIFO
    };

    uint32_t readControl(Cpu cpu) const;
    void writeControl(Cpu cpu, uint32_t value, uint32_t mask);
    uint32_t receive(Cpu cpu, bool peek);
    void send(Cpu cpu, uint32_t word);

    Board& board_;
    Side sides_[2];
};

}  // namespace vxsim

#endif
