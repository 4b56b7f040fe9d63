// Small handheld programs for the wireless tests, and the knobs and results
// they share with the tests. The programs themselves live in TUs of their
// own (one per processor, since each sees only its own half of the library);
// this header includes neither half nor any socket header.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

namespace wifitest {

enum class Script {
    None,       // stop once associated (or not)
    Exchange,   // datagrams of 0/2/4/8 bytes out, replies into a 4-byte buffer
    Errors,     // every misuse the socket layer must refuse
    SendOnly,   // sends `sends` datagrams and records each result
    WrongHalf,  // calls the co-processor's half from the main processor
};

struct MainOptions {
    bool fifoHandler = true;     // arm9_fifo on IRQ_FIFO_NOT_EMPTY
    bool syncHandler = true;     // Wifi_SetSyncHandler(arm9_synctoarm7)
    uint32_t valueXor = 0;       // corrupts the word carried to the co-processor
    bool valueOverride = false;  // carries `value` instead of Wifi_Init's word
    uint32_t value = 0;
    bool callsBeforeInit = false;  // library calls before Wifi_Init
    bool connect = true;           // Wifi_AutoConnect once ready
    Script script = Script::None;
    const char* peerAddress = "127.0.0.1";
    uint16_t peerPort = 0;
    int sends = 0;
};

struct CoOptions {
    bool fifoHandler = true;       // arm7_fifo on IRQ_FIFO_NOT_EMPTY
    bool syncHandler = true;       // Wifi_SetSyncHandler(arm7_synctoarm9)
    bool wifiIrq = true;           // Wifi_Interrupt on IRQ_WIFI
    bool callsBeforeInit = false;  // Wifi_Sync/Wifi_Interrupt before Wifi_Init
    bool wrongHalf = false;        // calls the main processor's half instead
};

struct Reception {
    int result = -99;
    uint8_t bytes[4] = {};
    uint16_t family = 0;
    uint16_t port = 0;     // host order
    uint32_t address = 0;  // network order, as the program got it
    int fromLength = -99;
    uint32_t timerTicksBefore = 0;
    uint32_t timerTicksAfter = 0;
};

struct MainReport {
    std::atomic<bool> ready{false};
    std::atomic<bool> settled{false};  // association ended (5 or 6)
    std::atomic<bool> done{false};     // script finished
    std::atomic<uint32_t> timerTicks{0};
    std::atomic<uint32_t> fifoSyncs{0};
    // Before Wifi_Init (callsBeforeInit).
    int statusBeforeInit = -99;
    int checkBeforeInit = -99;
    int statusAfterEarlyConnect = -99;
    int sendBeforeInit = -99;
    // Once ready, before Wifi_AutoConnect.
    int statusBeforeConnect = -99;
    int socketBeforeConnect = -99;
    int sendBeforeConnect = -99;
    int recvBeforeConnect = -99;
    std::vector<int> statuses;  // distinct values seen while associating
    int finalStatus = -99;
    // Script results.
    int socketHandle = -99;
    std::vector<int> sendResults;
    std::vector<Reception> receptions;
    std::vector<int> errorResults;
};

extern MainOptions mainOptions;
extern CoOptions coOptions;
extern MainReport mainReport;

int mainProgram(int argc, char** argv);
int coProgram(int argc, char** argv);

// Allocation hooks for the main program's image.
void* countingMalloc(int size);
void countingFree(void* block);
void* failingMalloc(int size);
extern std::atomic<int> mallocCount;
extern std::atomic<int> freeCount;
extern std::atomic<int> liveBlocks;

// Payload of the datagram of `size` bytes in the exchange.
inline uint8_t payloadByte(int size, int index) { return static_cast<uint8_t>(0x10 * size + index + 1); }

}  // namespace wifitest
