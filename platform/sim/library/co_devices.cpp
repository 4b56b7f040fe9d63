// The co-processor's library calls for its touch-screen controller and its
// real-time clock.
#include <nds.h>

#include "library.h"

using namespace vxsim;

extern "C" {

touchPosition touchReadXY(void) {
    TouchScreen::Position at = enter("touchReadXY", Cpu::Co).touchScreen.position();
    return touchPosition{at.rawX, at.rawY, at.px, at.py, at.z1, at.z2};
}

uint16 touchRead(uint32 command) { return enter("touchRead", Cpu::Co).touchScreen.convert(command); }

uint32 touchReadTemperature(int* t1, int* t2) {
    const TouchScreen& touch = enter("touchReadTemperature", Cpu::Co).touchScreen;
    if (t1) *t1 = touch.diode(0);
    if (t2) *t2 = touch.diode(1);
    return touch.temperature();
}

void rtcReset(void) {
    Machine::Impl& m = enter("rtcReset", Cpu::Co);
    traceCall(m, "rtcReset()");
}

void rtcGetTime(uint8* time) { enter("rtcGetTime", Cpu::Co).clock.read(hw::now(), time); }

void BCDToInteger(uint8* data, uint32 length) {
    enter("BCDToInteger");
    for (uint32 i = 0; i < length; ++i) data[i] = static_cast<uint8>((data[i] >> 4) * 10 + (data[i] & 15));
}

}  // extern "C"
