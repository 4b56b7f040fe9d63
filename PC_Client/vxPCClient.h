// vxPCClient: the desktop client of the tank game. Registers with the game
// server over UDP, then steers one tank in an SDL 1.2 OpenGL window and sends
// its state to the server after every step.
#ifndef VXPCCLIENT_H
#define VXPCCLIENT_H

#include <SDL.h>
#include <netdb.h>
#include <netinet/in.h>

#include "vxProtocol.h"

// Process-wide state; everything lives until the process ends.
extern vxProtocol myTank;         // the local tank; userID comes from the ACK
extern int sHandle;               // the one UDP socket, never closed
extern struct hostent* server;    // the resolved server host
extern struct sockaddr_in lSOCK;  // where datagrams go; the ACK's source once registered
extern SDL_Surface* surface;      // replaced at every resize

void Quit(int returnCode);
int initGL();
int resizeWindow(int width, int height);
int drawGLScene();
void vxSendData();
void handleKeyPress(SDL_keysym* keysym);
int openGLinit();

#endif
