#include "radio.h"

#include "device.h"

namespace vxradio {

namespace {

// The radio's registers, 16 bits each, as offsets from 0x04808000; its MAC
// RAM at 0x04804000. Byte stores are ignored there: halfwords only.
constexpr uint32_t kRegisters = 0x04808000;
constexpr uint32_t kMacRam = 0x04804000;
volatile uint16_t& reg(uint32_t offset) { return *reinterpret_cast<volatile uint16_t*>(kRegisters + offset); }
volatile uint16_t& ram(uint32_t offset) { return *reinterpret_cast<volatile uint16_t*>(kMacRam + offset); }

// Co-processor side.
#define REG_WIFIWAITCNT VX_IO16(0x04000206)
constexpr uint16_t kWifiWaitStates = 0x0030;  // the value the firmware leaves

enum : uint32_t {
    W_MODE_RST = 0x004,  // bit0: transmits allowed
    W_MODE_WEP = 0x006,  // bits 0-2 mode (2: no power saving), bits 3-5 key size
    W_TXSTATCNT = 0x008,
    W_X_00A = 0x00A,
    W_IF = 0x010,  // write 1 to clear
    W_IE = 0x012,
    W_MACADDR = 0x018,  // three halfwords
    W_BSSID = 0x020,    // three halfwords
    W_AID_LOW = 0x028,
    W_AID_FULL = 0x02A,
    W_TX_RETRYLIMIT = 0x02C,
    W_RXCNT = 0x030,     // bit15 store frames, bit0 latch the write cursor
    W_WEP_CNT = 0x032,   // bit15 WEP engine on
    W_POWER_US = 0x036,  // 0: oscillator and baseband ports on
    W_POWER_TX = 0x038,
    W_POWERSTATE = 0x03C,  // bit9 (read) radio idle; write 2 to wake it
    W_X_048 = 0x048,
    W_RXBUF_BEGIN = 0x050,
    W_RXBUF_END = 0x052,
    W_RXBUF_WRCSR = 0x054,  // hardware's write cursor, halfword index
    W_RXBUF_WR_ADDR = 0x056,
    W_RXBUF_RD_ADDR = 0x058,
    W_RXBUF_READCSR = 0x05A,  // ours: the hardware stops short of it
    W_RXBUF_GAP = 0x062,
    W_RXBUF_GAPDISP = 0x064,
    W_TXBUF_GAPDISP = 0x076,
    W_TXBUF_BEACON = 0x080,
    W_BEACONINT = 0x08C,
    W_TXBUF_LOC1 = 0x0A0,  // bit15 request pending, bits 0-11 halfword index
    W_TXREQ_RESET = 0x0AC,
    W_TXREQ_SET = 0x0AE,
    W_TXBUF_RESET = 0x0B4,
    W_TXBUSY = 0x0B6,
    W_PREAMBLE = 0x0BC,
    W_RXFILTER = 0x0D0,
    W_X_0D4 = 0x0D4,
    W_X_0D8 = 0x0D8,
    W_RX_LEN_CROP = 0x0DA,
    W_RXFILTER2 = 0x0E0,
    W_US_COUNTCNT = 0x0E8,
    W_US_COMPARECNT = 0x0EA,
    W_X_0EC = 0x0EC,
    W_CMD_COUNTCNT = 0x0EE,
    W_PRE_BEACON = 0x110,
    W_BEACON_COUNT = 0x11C,
    W_POST_BEACON = 0x134,
    W_BB_CNT = 0x158,  // 5xxx write, 6xxx read, low byte the index
    W_BB_WRITE = 0x15A,
    W_BB_READ = 0x15C,
    W_BB_BUSY = 0x15E,
    W_BB_MODE = 0x160,
    W_BB_POWER = 0x168,
    W_RF_DATA2 = 0x17C,  // written second: starts the transfer
    W_RF_DATA1 = 0x17E,
    W_RF_BUSY = 0x180,
    W_RF_CNT = 0x184,
    W_X_1A0 = 0x1A0,
    W_X_1A2 = 0x1A2,
    W_RXSTAT_INC_IE = 0x1AA,
    W_RXSTAT_OVF_IE = 0x1AE,
    W_TX_HDR_CNT = 0x194,
    W_CONFIG_254 = 0x254,
};

// The config registers, in the order the firmware stores their values.
constexpr uint16_t kConfigRegisters[16] = {0x146, 0x148, 0x14A, 0x14C, 0x120, 0x122, 0x154, 0x144,
                                           0x130, 0x132, 0x140, 0x142, 0x038, 0x124, 0x128, 0x150};

constexpr uint16_t kIrqReceived = 1 << 0;
constexpr uint16_t kIrqSent = 1 << 1;
constexpr uint16_t kPowerIdle = 1 << 9;
constexpr uint16_t kPowerWake = 1 << 1;
constexpr uint16_t kTxPending = 1 << 15;
constexpr uint16_t kLoc1 = 1 << 0;
constexpr uint16_t kBusy = 1 << 0;
constexpr uint16_t kModeNoPowerSave = 2;
// Scanning: group frames of any network (bit0), beacons (bits 7, 8). The
// station sorts out foreign frames itself, so the filter stays as it is.
constexpr uint16_t kRxFilter = 0x0181;
constexpr uint16_t kRxFilter2 = 0x0008;

// MAC RAM: the transmit buffer at the bottom, the receive ring above it up
// to the words the hardware keeps for itself (5F60 on, WEP keys at 5F80).
constexpr uint32_t kTxBuffer = 0x0000;
constexpr uint32_t kRingBegin = 0x0C00, kRingEnd = 0x1F60;
constexpr uint32_t kWepKey0 = 0x1F80;
constexpr uint32_t kTxHeader = 12, kRxHeader = 12, kFcs = 4, kIcv = 4;
constexpr uint8_t kRate2Mbit = 0x14;
constexpr uint16_t kRetries = 7;
constexpr uint32_t kTxTimeoutFrames = 4;

// Chip transfers end within microseconds; the bound only keeps a radio that
// never clears its busy bit from holding the co-processor.
constexpr int kBusyPolls = 20000;

uint32_t inFlightFrames = 0;
bool inFlight = false;
int step = 0;
Counters stats;

void waitIdle(uint32_t offset) {
    for (int i = 0; i < kBusyPolls && (reg(offset) & kBusy); ++i) {
    }
}

void basebandWrite(uint8_t index, uint8_t value) {
    waitIdle(W_BB_BUSY);
    reg(W_BB_WRITE) = value;
    reg(W_BB_CNT) = static_cast<uint16_t>(0x5000 | index);
    waitIdle(W_BB_BUSY);
}

uint8_t basebandRead(uint8_t index) {
    waitIdle(W_BB_BUSY);
    reg(W_BB_CNT) = static_cast<uint16_t>(0x6000 | index);
    waitIdle(W_BB_BUSY);
    return static_cast<uint8_t>(reg(W_BB_READ));
}

// Type 2 takes a 24-bit serial word; type 3 an index and a data byte.
void rfWrite(uint8_t rfType, const vxwlan::ChipWrite& w) {
    waitIdle(W_RF_BUSY);
    if (rfType == vxwlan::kRfType3) {
        reg(W_RF_DATA1) = static_cast<uint16_t>(w.index << 8 | (w.value & 0xFF));
        reg(W_RF_DATA2) = 5;
    } else {
        reg(W_RF_DATA1) = static_cast<uint16_t>(w.value);
        reg(W_RF_DATA2) = static_cast<uint16_t>(w.value >> 16 & 0x7F);
    }
    waitIdle(W_RF_BUSY);
}

void apply(uint8_t rfType, const vxwlan::ChipWrite* writes, int n) {
    for (int i = 0; i < n; ++i) {
        if (writes[i].chip == vxwlan::ChipWrite::kBaseband) basebandWrite(writes[i].index, writes[i].value & 0xFF);
        else rfWrite(rfType, writes[i]);
    }
}

void setMac(const uint8_t* mac) {
    for (uint32_t i = 0; i < 3; ++i) reg(W_MACADDR + 2 * i) = static_cast<uint16_t>(mac[2 * i] | mac[2 * i + 1] << 8);
}

void resetRing() {
    reg(W_RXCNT) = 0x8000;
    reg(W_RXBUF_BEGIN) = static_cast<uint16_t>(0x4000 + kRingBegin);
    reg(W_RXBUF_END) = static_cast<uint16_t>(0x4000 + kRingEnd);
    reg(W_RXBUF_WR_ADDR) = kRingBegin / 2;
    reg(W_RXBUF_READCSR) = kRingBegin / 2;
    reg(W_RXBUF_RD_ADDR) = kRingBegin;
    reg(W_RXBUF_GAP) = 0;
    reg(W_RXBUF_GAPDISP) = 0;
    reg(W_RXCNT) = 0x8001;  // the write cursor takes WR_ADDR
    reg(W_RXCNT) = 0x8000;
}

// The rest of bring-up, once the oscillator runs and the RF chip is on.
void configure(const uint8_t* area, size_t areaLength, const vxwlan::RadioFirmware& fw) {
    reg(W_MODE_RST) = 0;
    reg(W_TXSTATCNT) = 0;
    reg(W_X_00A) = 0;
    reg(W_IE) = 0;
    reg(W_IF) = 0xFFFF;
    reg(W_CONFIG_254) = 0;
    reg(W_TXBUF_RESET) = 0xFFFF;
    reg(W_TXBUF_BEACON) = 0;
    reg(W_AID_FULL) = 0;
    reg(W_AID_LOW) = 0;
    reg(W_US_COUNTCNT) = 0;
    // No beacon timing: its interrupt would drop a queued transmit.
    reg(W_US_COMPARECNT) = 0;
    reg(W_BEACONINT) = 0;
    reg(W_BEACON_COUNT) = 0;
    reg(W_CMD_COUNTCNT) = 1;
    reg(W_X_0EC) = 0x3F03;
    reg(W_X_1A2) = 1;
    reg(W_X_1A0) = 0;
    reg(W_PRE_BEACON) = 0x0800;
    reg(W_PREAMBLE) = 1;
    reg(W_X_0D4) = 3;
    reg(W_X_0D8) = 4;
    reg(W_RX_LEN_CROP) = 0x0602;
    reg(W_TXBUF_GAPDISP) = 0;
    for (int i = 0; i < 16; ++i) reg(kConfigRegisters[i]) = fw.config[i];

    reg(W_RF_CNT) = fw.rfControl;
    vxwlan::ChipWrite writes[48];
    apply(fw.rfType, writes, vxwlan::rfInitWrites(area, areaLength, writes, 48));
    reg(W_BB_MODE) = 0x0100;
    for (uint8_t i = 0; i < sizeof fw.baseband; ++i) basebandWrite(i, fw.baseband[i]);

    setMac(fw.mac);
    reg(W_TX_RETRYLIMIT) = kRetries;
    reg(W_MODE_WEP) = kModeNoPowerSave;
    basebandWrite(0x13, 0x00);  // clear channel: carrier sense only
    basebandWrite(0x35, 0x1F);  // energy-detect threshold
    reg(W_WEP_CNT) = 0x8000;
    reg(W_POST_BEACON) = 0xFFFF;
    reg(W_US_COUNTCNT) = 1;
    reg(W_POWER_TX) = 0;
    setNetwork(nullptr, 0);
    resetRing();

    reg(W_IF) = 0xFFFF;
    reg(W_IE) = kIrqReceived | kIrqSent;
    reg(W_RXSTAT_OVF_IE) = 0x1FFF;
    reg(W_RXSTAT_INC_IE) = 0;
    reg(W_RXFILTER) = kRxFilter;
    reg(W_RXFILTER2) = kRxFilter2;
    reg(W_TX_HDR_CNT) = 0;
    reg(W_MODE_RST) = 1;
    reg(W_X_048) = 0;
    reg(W_POWERSTATE) = kPowerWake;
    reg(W_TXREQ_RESET) = 0xFFFF;
    inFlight = false;
}

// The firmware over the serial bus: command 03, a 24-bit address, then as
// many bytes as wanted while the chip stays selected.
constexpr uint16_t kSpiFirmware = 1 << 8;
constexpr uint8_t kFlashRead = 0x03;

void spiWait() {
    for (int i = 0; i < kBusyPolls && (REG_SPICNT & SPI_BUSY); ++i) {
    }
}

uint8_t spiByte(uint16_t control, uint8_t out) {
    REG_SPICNT = control;
    REG_SPIDATA = out;
    spiWait();
    return static_cast<uint8_t>(REG_SPIDATA);
}

void readFlash(uint32_t address, uint8_t* out, size_t n) {
    constexpr uint16_t hold = SPI_ENABLE | SPI_HOLD_SELECT | kSpiFirmware;
    spiWait();
    spiByte(hold, kFlashRead);
    spiByte(hold, static_cast<uint8_t>(address >> 16));
    spiByte(hold, static_cast<uint8_t>(address >> 8));
    spiByte(hold, static_cast<uint8_t>(address));
    for (size_t i = 0; i < n; ++i) out[i] = spiByte(i + 1 < n ? hold : SPI_ENABLE | kSpiFirmware, 0);
    REG_SPICNT = 0;
}

}  // namespace

bool readFirmware(uint8_t* area, size_t areaLength, vxwlan::AccessPoint* slots, int& usable) {
    usable = 0;
    // The touch screen shares the bus from the vertical-blank handler.
    const uint32_t ime = REG_IME;
    REG_IME = 0;
    readFlash(0, area, areaLength);
    uint8_t slot[vxwlan::kSlotBytes];
    for (int i = 0; i < vxwlan::kSlots; ++i) {
        const uint32_t address = vxwlan::slotAddress(area, areaLength, i);
        if (address == 0) break;
        readFlash(address, slot, sizeof slot);
        if (vxwlan::parseSlot(slot, sizeof slot, slots[usable]) == vxwlan::kSlotUsable) ++usable;
    }
    REG_IME = ime;
    return vxwlan::wirelessAreaValid(area, areaLength);
}

bool bringUp(const uint8_t* area, size_t areaLength, const vxwlan::RadioFirmware& fw) {
    switch (step) {
    case 0:
        powerON(POWER_WIFI);
        REG_WIFIWAITCNT = kWifiWaitStates;
        reg(W_IE) = 0;
        reg(W_POWER_US) = 0;  // the oscillator starts
        break;
    case 1:
        reg(W_BB_POWER) = 0;
        if (fw.rfType == vxwlan::kRfType2) {
            // Clearing and setting BB[01] bit 7 switches the RF chip on.
            const uint8_t value = basebandRead(1);
            basebandWrite(1, value & 0x7F);
            basebandWrite(1, value);
        }
        break;
    case 2:
        break;  // the RF chip settles
    case 3:
        configure(area, areaLength, fw);
        break;
    default:
        return true;
    }
    ++step;
    return false;
}

void keepAwake() {
    reg(W_POST_BEACON) = 0xFFFF;
    if (reg(W_POWERSTATE) & kPowerIdle) {
        reg(W_POWERSTATE) = kPowerWake;
        ++stats.wakeUps;
    }
}

void tune(const uint8_t* area, size_t areaLength, int channel) {
    vxwlan::ChipWrite writes[16];
    const int n = vxwlan::channelWrites(area, areaLength, channel, writes, 16);
    apply(area[0x40] == vxwlan::kRfType3 ? vxwlan::kRfType3 : vxwlan::kRfType2, writes, n);
}

void setNetwork(const uint8_t* bssid, uint16_t aid) {
    for (uint32_t i = 0; i < 3; ++i)
        reg(W_BSSID + 2 * i) = bssid ? static_cast<uint16_t>(bssid[2 * i] | bssid[2 * i + 1] << 8) : 0;
    reg(W_AID_FULL) = aid & 0x07FF;
    reg(W_AID_LOW) = 0;
}

void setKey(const uint8_t* key, uint8_t length, uint8_t code) {
    for (uint32_t i = 0; i < 16; ++i) {
        const uint8_t lo = key && 2 * i < length ? key[2 * i] : 0;
        const uint8_t hi = key && 2 * i + 1 < length ? key[2 * i + 1] : 0;
        ram(kWepKey0 + 2 * i) = static_cast<uint16_t>(lo | hi << 8);
    }
    reg(W_MODE_WEP) = static_cast<uint16_t>(kModeNoPowerSave | (key ? (code & 7) << 3 : 0));
}

bool transmit(const uint8_t* frame, size_t length, bool wep) {
    if (inFlight || length + kTxHeader + kIcv > kRingBegin - kTxBuffer) return false;
    // The radio header: status, flags, sequence from the radio, the rate,
    // and the length with FCS (and ICV) counted.
    const uint16_t onAir = static_cast<uint16_t>(length + kFcs + (wep ? kIcv : 0));
    const uint16_t header[6] = {0, 0, 0, 0, kRate2Mbit, onAir};
    for (uint32_t i = 0; i < 6; ++i) ram(kTxBuffer + 2 * i) = header[i];
    for (size_t i = 0; i < length; i += 2) {
        const uint8_t hi = i + 1 < length ? frame[i + 1] : 0;
        ram(kTxBuffer + kTxHeader + static_cast<uint32_t>(i)) = static_cast<uint16_t>(frame[i] | hi << 8);
    }
    reg(W_TX_RETRYLIMIT) = kRetries;
    reg(W_TXBUF_LOC1) = static_cast<uint16_t>(kTxPending | kTxBuffer / 2);
    reg(W_TXREQ_SET) = kLoc1;
    inFlight = true;
    inFlightFrames = 0;
    return true;
}

bool transmitting() {
    if (!inFlight) return false;
    const bool done = (reg(W_TXBUF_LOC1) & kTxPending) == 0 && (reg(W_TXBUSY) & kLoc1) == 0;
    if (done) {
        if (ram(kTxBuffer) == 1) ++stats.sent;
        else ++stats.failed;
    } else if (inFlightFrames >= kTxTimeoutFrames) {
        // A radio that never ends a transmit must not hold the queue.
        reg(W_TXBUF_RESET) = kLoc1;
        ++stats.timedOut;
    } else {
        return true;
    }
    reg(W_TXREQ_RESET) = kLoc1;
    inFlight = false;
    return false;
}

void transmitFrame() {
    if (inFlight) ++inFlightFrames;
}

bool receive(uint8_t* out, size_t capacity, size_t& length, bool& tooLong) {
    length = 0;
    tooLong = false;
    constexpr uint32_t begin = kRingBegin / 2, end = kRingEnd / 2;
    const uint32_t write = reg(W_RXBUF_WRCSR) & 0x0FFF;
    const uint32_t read = reg(W_RXBUF_READCSR) & 0x0FFF;
    if (write == read) return false;
    if (write < begin || write >= end || read < begin || read >= end) {
        // Cursors outside the ring: start it afresh rather than read nonsense.
        resetRing();
        ++stats.ringResets;
        return false;
    }
    const uint32_t ringBytes = kRingEnd - kRingBegin;
    auto at = [&](uint32_t byte) { return kRingBegin + (byte - kRingBegin) % ringBytes; };
    const uint32_t start = read * 2;
    const uint32_t stored = ram(at(start + 8)) & 0x0FFF;
    const uint32_t entry = (kRxHeader + stored + 3) & ~3u;
    const uint32_t available = ((write + (end - begin) - read) % (end - begin)) * 2;
    if (entry > available) {
        resetRing();
        ++stats.ringResets;
        return false;
    }
    if (stored > capacity) {
        tooLong = true;
        ++stats.skipped;
    } else {
        for (uint32_t i = 0; i < stored; i += 2) {
            const uint16_t h = ram(at(start + kRxHeader + i));
            out[i] = static_cast<uint8_t>(h);
            if (i + 1 < stored) out[i + 1] = static_cast<uint8_t>(h >> 8);
        }
        length = stored;
        ++stats.received;
    }
    reg(W_RXBUF_READCSR) = static_cast<uint16_t>(at(start + entry) / 2);
    return true;
}

uint16_t takeInterrupts() {
    const uint16_t fired = reg(W_IF) & reg(W_IE);
    if (fired) reg(W_IF) = fired;
    return fired;
}

const Counters& counters() { return stats; }

}  // namespace vxradio
