// Once a frame: sample touch screen, extra keys, clock and temperature into
// the transfer region, then give the wireless library its update.
#include <dswifi7.h>
#include <nds.h>

#include "arm7.h"

#define XKEY_PEN_UP_BIT 0x0040

void VblankHandler() {
    u16 but = 0, x = 0, y = 0, xpx = 0, ypx = 0, z1 = 0, z2 = 0, batt = 0, aux = 0;
    int t1 = 0, t2 = 0;
    u32 temp;
    u8 ct[8];
    u32 i;

    but = REG_KEYXY;
    if (!(but & XKEY_PEN_UP_BIT)) {
        touchPosition tempPos = touchReadXY();
        x = tempPos.x;
        y = tempPos.y;
        xpx = tempPos.px;
        ypx = tempPos.py;
    }

    z1 = touchRead(TSC_MEASURE_Z1);
    z2 = touchRead(TSC_MEASURE_Z2);
    batt = touchRead(TSC_MEASURE_BATTERY);
    aux = touchRead(TSC_MEASURE_AUX);

    // The first byte is the clock's status, not a BCD value.
    rtcGetTime(ct);
    BCDToInteger(&ct[1], 7);

    temp = touchReadTemperature(&t1, &t2);

    // One store per field, at its own width, so no field is ever torn.
    IPC->buttons = but;
    IPC->touchX = x;
    IPC->touchY = y;
    IPC->touchXpx = xpx;
    IPC->touchYpx = ypx;
    IPC->touchZ1 = z1;
    IPC->touchZ2 = z2;
    IPC->battery = batt;
    IPC->aux = aux;
    for (i = 0; i < 8; i++) {
        IPC->time.curtime[i] = ct[i];
    }
    IPC->temperature = temp;
    IPC->tdiode1 = t1;
    IPC->tdiode2 = t2;

    Wifi_Update();
}
