// The main-processor half of the wireless library.
#ifndef DSWIFI9_H
#define DSWIFI9_H

#include <nds.h>
// The socket layer lives in netstack/, on the program include path as
// <sys/socket.h> and <netinet/in.h>, as the device toolchain has it.
#include "netstack/netinet/in.h"

#define WIFIINIT_OPTION_USELED 0x0002

enum WIFI_ASSOCSTATUS {
    ASSOCSTATUS_DISCONNECTED,
    ASSOCSTATUS_SEARCHING,
    ASSOCSTATUS_AUTHENTICATING,
    ASSOCSTATUS_ASSOCIATING,
    ASSOCSTATUS_ACQUIRINGDHCP,
    ASSOCSTATUS_ASSOCIATED,
    ASSOCSTATUS_CANNOTCONNECT,
};

typedef void (*WifiSyncHandler)(void);

namespace vxwifi9 {
u32 Wifi_Init(int initflags);
int Wifi_CheckInit(void);
void Wifi_Timer(int num_ms);
void Wifi_AutoConnect(void);
int Wifi_AssocStatus(void);
void Wifi_SetSyncHandler(WifiSyncHandler handler);
void Wifi_Sync(void);
}  // namespace vxwifi9
using vxwifi9::Wifi_AssocStatus;
using vxwifi9::Wifi_AutoConnect;
using vxwifi9::Wifi_CheckInit;
using vxwifi9::Wifi_Init;
using vxwifi9::Wifi_SetSyncHandler;
using vxwifi9::Wifi_Sync;
using vxwifi9::Wifi_Timer;

// The IP stack takes its buffers through these two, which the program defines.
extern "C" void* sgIP_malloc(int size);
extern "C" void sgIP_free(void* ptr);

#endif
