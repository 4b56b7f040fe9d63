// The co-processor half of the wireless library.
#ifndef DSWIFI7_H
#define DSWIFI7_H

#include <nds.h>

typedef void (*WifiSyncHandler)(void);

namespace vxwifi7 {
void Wifi_Init(u32 wifiData);
void Wifi_Interrupt(void);
void Wifi_Update(void);
void Wifi_SetSyncHandler(WifiSyncHandler handler);
void Wifi_Sync(void);
}  // namespace vxwifi7
using vxwifi7::Wifi_Init;
using vxwifi7::Wifi_Interrupt;
using vxwifi7::Wifi_SetSyncHandler;
using vxwifi7::Wifi_Sync;
using vxwifi7::Wifi_Update;

#endif
