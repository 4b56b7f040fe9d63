// The handheld client's own operations, shared between its source files.
#ifndef VXCLIENT_H
#define VXCLIENT_H

#include <nds.h>

#include "vxFifo.h"
#include "vxProtocol.h"

// Start-up and interrupt handlers.
void vxInitVideo();
void Timer_50ms();
void arm9_fifo();

// Wireless bring-up.
void InitWifi();
void ConnectWFC();
void arm9_synctoarm7();

// The conversation with the game server.
int vxConnectToServer();
void vxSendADDME();
void vxSendData();
void vxRecvData(vxProtocol* recvData);

// Play loop and drawing.
void vxMainLoop();
void vxHandleInput();
void vxDrawTank(int x, int y, uint16 color);
void vxDrawAllTanks();

extern vxProtocol myTank;

#endif
