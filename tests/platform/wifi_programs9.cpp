// The main-processor test program: the bring-up of the real client, with
// each link of the handshake switchable, then one socket script.
#include <dswifi9.h>
#include <nds.h>
#include <stdlib.h>
#include <string.h>

#include "test_program.h"
#include "vxFifo.h"
#include "wifi_programs.h"

// Declared here only to show that the co-processor's half refuses this processor.
namespace vxwifi7 {
void Wifi_Update(void);
}

namespace wifitest {

MainOptions mainOptions;
MainReport mainReport;
std::atomic<int> mallocCount{0};
std::atomic<int> freeCount{0};
std::atomic<int> liveBlocks{0};

void* countingMalloc(int size) {
    ++mallocCount;
    ++liveBlocks;
    return malloc(size);
}

void countingFree(void* block) {
    ++freeCount;
    --liveBlocks;
    free(block);
}

void* failingMalloc(int size) {
    (void)size;
    ++mallocCount;
    return nullptr;
}

namespace {

constexpr u32 kMarker = VX_FIFO_MARKER;
constexpr u32 kSync = VX_FIFO_SYNC;

void timer50() {
    ++mainReport.timerTicks;
    Wifi_Timer(50);
}

void fifo9() {
    u32 word = REG_IPC_FIFO_RX;
    if (word == kSync) {
        ++mainReport.fifoSyncs;
        Wifi_Sync();
    }
}

void sync9() { REG_IPC_FIFO_TX = kSync; }

sockaddr_in peer() {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(mainOptions.peerPort);
    to.sin_addr.s_addr = static_cast<uint32_t>(inet_addr(mainOptions.peerAddress));
    return to;
}

void exchange() {
    MainReport& r = mainReport;
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    r.socketHandle = s;
    sockaddr_in to = peer();
    for (int size : {0, 2, 4, 8}) {
        uint8_t data[8];
        for (int i = 0; i < size; ++i) {
            data[i] = payloadByte(size, i);
        }
        r.sendResults.push_back(sendto(s, data, size, 0, (sockaddr*)&to, sizeof to));
    }
    // Four echoes and one more datagram that the peer adds after the last.
    for (int i = 0; i < 5; ++i) {
        Reception got;
        memset(got.bytes, 0xEE, sizeof got.bytes);
        sockaddr_in from;
        memset(&from, 0xAB, sizeof from);
        int fromLength = 16;
        got.timerTicksBefore = r.timerTicks;
        got.result = recvfrom(s, got.bytes, 4, 0, (sockaddr*)&from, &fromLength);
        got.timerTicksAfter = r.timerTicks;
        got.family = from.sin_family;
        got.port = ntohs(from.sin_port);
        got.address = from.sin_addr.s_addr;
        got.fromLength = fromLength;
        r.receptions.push_back(got);
    }
}

void errors() {
    std::vector<int>& e = mainReport.errorResults;
    sockaddr_in to = peer();
    char data[4] = {1, 2, 3, 4};
    char buffer[4];
    int fromLength = 16;
    sockaddr_in from;
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    e.push_back(sendto(7, data, 4, 0, (sockaddr*)&to, sizeof to));  // never opened
    e.push_back(sendto(-1, data, 4, 0, (sockaddr*)&to, sizeof to));
    e.push_back(sendto(1000, data, 4, 0, (sockaddr*)&to, sizeof to));
    e.push_back(recvfrom(7, buffer, 4, 0, (sockaddr*)&from, &fromLength));
    e.push_back(closesocket(7));
    e.push_back(socket(AF_INET, SOCK_STREAM, 0));
    e.push_back(socket(3, SOCK_DGRAM, 0));
    e.push_back(sendto(s, data, 4, 0, nullptr, 16));  // no destination
    e.push_back(closesocket(s));
    e.push_back(sendto(s, data, 4, 0, (sockaddr*)&to, sizeof to));  // closed
    e.push_back(recvfrom(s, buffer, 4, 0, (sockaddr*)&from, &fromLength));
    e.push_back(closesocket(s));
}

void sendOnly() {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    mainReport.socketHandle = s;
    sockaddr_in to = peer();
    for (int i = 0; i < mainOptions.sends; ++i) {
        char data[4] = {'D', 'S', static_cast<char>('0' + i), 0};
        mainReport.sendResults.push_back(sendto(s, data, 4, 0, (sockaddr*)&to, sizeof to));
    }
}

}  // namespace

int mainProgram(int argc, char** argv) {
    (void)argc;
    (void)argv;
    const MainOptions& o = mainOptions;
    MainReport& r = mainReport;

    irqInit();
    irqSet(IRQ_VBLANK, 0);
    irqSet(IRQ_TIMER3, timer50);
    irqEnable(IRQ_TIMER3);
    if (o.fifoHandler) {
        irqSet(IRQ_FIFO_NOT_EMPTY, fifo9);
        irqEnable(IRQ_FIFO_NOT_EMPTY);
    }
    if (o.script == Script::WrongHalf) {
        vxwifi7::Wifi_Update();
    }

    if (o.callsBeforeInit) {
        Wifi_Timer(50);
        Wifi_Sync();
        r.statusBeforeInit = Wifi_AssocStatus();
        r.checkBeforeInit = Wifi_CheckInit();
        Wifi_AutoConnect();
        r.statusAfterEarlyConnect = Wifi_AssocStatus();
        sockaddr_in to = peer();
        int s = socket(AF_INET, SOCK_DGRAM, 0);
        r.sendBeforeInit = sendto(s, "x", 1, 0, (sockaddr*)&to, sizeof to);
    }

    REG_IPC_FIFO_CR = IPC_FIFO_ENABLE | IPC_FIFO_SEND_CLEAR;
    u32 pass = Wifi_Init(WIFIINIT_OPTION_USELED);
    REG_IPC_FIFO_TX = kMarker;
    REG_IPC_FIFO_TX = o.valueOverride ? o.value : pass ^ o.valueXor;
    TIMER3_CR = 0;
    REG_IPC_FIFO_CR = IPC_FIFO_ENABLE | IPC_FIFO_RECV_IRQ;
    if (o.syncHandler) {
        Wifi_SetSyncHandler(sync9);
    }
    TIMER3_DATA = 0xE667;
    TIMER3_CR = TIMER_ENABLE | TIMER_IRQ_REQ | TIMER_DIV_256;
    while (Wifi_CheckInit() == 0) {
        while (REG_VCOUNT > 192) {
        }
        while (REG_VCOUNT < 192) {
        }
    }
    r.ready = true;

    r.statusBeforeConnect = Wifi_AssocStatus();
    if (o.script == Script::Errors) {
        int s = socket(AF_INET, SOCK_DGRAM, 0);
        r.socketBeforeConnect = s;
        sockaddr_in to = peer();
        char buffer[4];
        int fromLength = 16;
        r.sendBeforeConnect = sendto(s, "abcd", 4, 0, (sockaddr*)&to, sizeof to);
        r.recvBeforeConnect = recvfrom(s, buffer, 4, 0, (sockaddr*)&to, &fromLength);
        closesocket(s);
    }

    if (o.connect) {
        Wifi_AutoConnect();
        for (;;) {
            int status = Wifi_AssocStatus();
            if (r.statuses.empty() || r.statuses.back() != status) {
                r.statuses.push_back(status);
            }
            if (status == ASSOCSTATUS_ASSOCIATED || status == ASSOCSTATUS_CANNOTCONNECT) {
                r.finalStatus = status;
                break;
            }
        }
        r.settled = true;
        switch (o.script) {
        case Script::Exchange:
            exchange();
            break;
        case Script::Errors:
            errors();
            break;
        case Script::SendOnly:
            sendOnly();
            break;
        case Script::None:
        case Script::WrongHalf:
            break;
        }
    }
    r.done = true;
    vxtest::idleForever();
}

}  // namespace wifitest
