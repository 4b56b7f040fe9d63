// The co-processor program's handlers.
#ifndef ARM7_H
#define ARM7_H

void arm7_fifo();
void arm7_synctoarm9();
void VblankHandler();

#define VX_FIFO_MARKER 0x12345678u
#define VX_FIFO_SYNC 0x87654321u

#endif
