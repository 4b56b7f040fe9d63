// The co-processor program's handlers.
#ifndef ARM7_H
#define ARM7_H

#include "vxFifo.h"

void arm7_fifo();
void arm7_synctoarm9();
void VblankHandler();

#endif
