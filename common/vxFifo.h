// The words the two handheld programs exchange on the inter-processor FIFO.
#ifndef VXFIFO_H
#define VXFIFO_H

// Main to co-processor, once at start-up: the next word is the wireless
// library's value, to be handed to the co-processor's Wifi_Init unexamined.
#define VX_FIFO_MARKER 0x12345678u
// Either way: the sender's wireless half rings the other, which answers
// with Wifi_Sync.
#define VX_FIFO_SYNC 0x87654321u

#endif
