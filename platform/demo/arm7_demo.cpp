// Demo, co-processor: relays the extra keys and the touch position to the
// transfer region each frame, as the co-processor's library does.
#include <nds.h>

namespace {

void vblank() {
    u16 buttons = REG_KEYXY;
    if (!(buttons & XKEY_PEN_UP)) {
        touchPosition p = touchReadXY();
        IPC->touchXpx = p.px;
        IPC->touchYpx = p.py;
    }
    IPC->buttons = buttons;
}

}  // namespace

int main() {
    irqInit();
    irqSet(IRQ_VBLANK, vblank);
    irqEnable(IRQ_VBLANK);
    for (;;) swiWaitForVBlank();
    return 0;
}
