// Co-processor test program: copies the extra keys into the transfer region
// at power-on and at every vertical blank.
#include <nds.h>

namespace {

void vblank() { IPC->buttons = REG_KEYXY; }

}  // namespace

int main() {
    IPC->buttons = REG_KEYXY;
    irqInit();
    irqSet(IRQ_VBLANK, vblank);
    irqEnable(IRQ_VBLANK);
    for (;;) swiWaitForVBlank();
    return 0;
}
