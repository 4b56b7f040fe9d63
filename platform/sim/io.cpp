#include "io.h"

#include <algorithm>

#include "format.h"
#include "hw.h"
#include "machine_impl.h"

namespace vxsim {

namespace {

inline uint32_t bytesMask(unsigned n) { return n >= 4 ? 0xFFFFFFFFu : ((1u << (8 * n)) - 1); }

}  // namespace

Bus::Bus(Board& board, std::initializer_list<Device*> devices) : board_(board) {
    for (Device* d : devices) {
        for (const Register& r : d->registers()) rows_.push_back(Row{d, r});
    }
    for (Cpu cpu : {Cpu::Main, Cpu::Co}) {
        std::vector<Page>& pages = pages_[idx(cpu)];
        for (size_t i = 0; i < rows_.size(); ++i) {
            const Register& r = rows_[i].reg;
            if ((r.flags & kNameOnly) || !r.seenFrom(cpu)) continue;
            for (uint32_t a = r.address; a < r.address + r.width; ++a) {
                uint32_t base = a & ~0xFFFu;
                auto page = std::find_if(pages.begin(), pages.end(), [&](const Page& p) { return p.base == base; });
                if (page == pages.end()) page = pages.insert(pages.end(), Page{base, std::vector<uint16_t>(0x1000)});
                page->slots[a & 0xFFF] = static_cast<uint16_t>(i + 1);
            }
        }
    }
}

const Bus::Row* Bus::find(Cpu cpu, uint32_t address) const {
    for (const Page& p : pages_[idx(cpu)]) {
        if (p.base == (address & ~0xFFFu)) {
            uint16_t slot = p.slots[address & 0xFFF];
            return slot ? &rows_[slot - 1] : nullptr;
        }
    }
    return nullptr;
}

std::string Bus::name(Cpu cpu, uint32_t address, unsigned bytes) const {
    const Register* partial = nullptr;
    for (const Row& row : rows_) {
        const Register& r = row.reg;
        if (!r.name || !r.seenFrom(cpu) || r.address != address) continue;
        if (r.width == bytes) return r.name;
        partial = &r;
    }
    if (partial) return std::string(partial->name) + "/" + std::to_string(8 * bytes);
    return hex(address, 8);
}

// Calls part(row, address, offset in the register, bytes, offset in the
// access) for each register (or lone byte) the access covers.
template <typename Part>
void Bus::forEachPart(Cpu cpu, uint32_t address, unsigned bytes, Part part) {
    for (unsigned off = 0; off < bytes;) {
        uint32_t a = address + off;
        const Row* row = find(cpu, a);
        unsigned start = row ? a - row->reg.address : 0;
        unsigned n = std::min((row ? row->reg.width : 1u) - start, bytes - off);
        part(row, a, start, n, off);
        off += n;
    }
}

uint32_t Bus::read(Cpu cpu, uint32_t address, unsigned bytes, bool peek, bool* takes) {
    if (bytes != 1 && bytes != 2 && bytes != 4) hw::fatal("register read of " + std::to_string(bytes) + " bytes");
    address &= ~(bytes - 1);
    const Row* first = find(cpu, address);
    if (takes) *takes = first && (first->reg.flags & kReadTakes);
    // Most accesses are one whole register.
    if (first && first->reg.address == address && first->reg.width == bytes) {
        return first->device->read(cpu, first->reg.id, peek);
    }
    uint32_t result = 0;
    forEachPart(cpu, address, bytes, [&](const Row* row, uint32_t a, unsigned start, unsigned n, unsigned off) {
        uint32_t v = 0;
        if (row) {
            v = row->device->read(cpu, row->reg.id, peek);
        } else if (auto it = plain_[idx(cpu)].find(a); it != plain_[idx(cpu)].end()) {
            v = it->second;
        }
        result |= ((v >> (8 * start)) & bytesMask(n)) << (8 * off);
    });
    return result;
}

void Bus::write(Cpu cpu, uint32_t address, unsigned bytes, uint32_t value) {
    if (bytes != 1 && bytes != 2 && bytes != 4) hw::fatal("register write of " + std::to_string(bytes) + " bytes");
    address &= ~(bytes - 1);
    value &= bytesMask(bytes);
    const Row* first = find(cpu, address);
    if (!(first && (first->reg.flags & kTracesItself) && first->reg.address == address)) {
        board_.trace(cpu, TraceKind::IoWrite, name(cpu, address, bytes) + "=" + hex(value, 2 * bytes));
    }
    forEachPart(cpu, address, bytes, [&](const Row* row, uint32_t a, unsigned start, unsigned n, unsigned off) {
        uint32_t part = ((value >> (8 * off)) & bytesMask(n)) << (8 * start);
        if (row) {
            row->device->write(cpu, row->reg.id, part, bytesMask(n) << (8 * start));
        } else {
            plain_[idx(cpu)][a] = static_cast<uint8_t>(part);
        }
    });
}

uint64_t Bus::nextChange(Cpu cpu, uint32_t address) {
    const Row* row = find(cpu, address);
    return row ? row->device->nextChange(cpu, row->reg.id) : kNever;
}

}  // namespace vxsim

// ------------------------------------------------------- program-facing

namespace vxhw {

using vxsim::Machine;

uint32_t ioRead(uint32_t address, unsigned bytes) {
    Machine::Impl& m = vxsim::callerMachine("register read");
    vxsim::Cpu me = m.cur;
    vxsim::Processor& s = m.cpu(me);
    vxsim::hw::charge(vxsim::kIoCost);
    bool sameAsBefore = s.lastValid && s.lastAddr == address && s.lastBytes == bytes;
    bool takes = false;
    uint32_t v = m.bus.read(me, address, bytes, false, &takes);
    if (takes) {
        s.lastValid = false;  // a read that takes something is never a spin
        return v;
    }
    sameAsBefore = sameAsBefore && s.lastValue == v;
    s.lastValid = true;
    s.lastAddr = address;
    s.lastBytes = bytes;
    s.lastValue = v;
    // Polled twice with nothing changed: skip to when it could change.
    if (sameAsBefore) m.idle(m.bus.nextChange(me, address));
    return v;
}

void ioWrite(uint32_t address, unsigned bytes, uint32_t value) {
    Machine::Impl& m = vxsim::callerMachine("register write");
    vxsim::Cpu me = m.cur;
    vxsim::hw::charge(vxsim::kIoCost);
    m.cpu(me).lastValid = false;
    m.bus.write(me, address, bytes, value);
    // An interrupt the write let through is taken right after it.
    if (m.interrupts.of(me).takeable()) m.takeInterrupts();
}

}  // namespace vxhw
