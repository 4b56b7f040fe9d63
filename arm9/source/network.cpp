// The conversation with the game server: one UDP socket, registration,
// the ACK with the player's identifier, and a state record after each step.
#include <dswifi9.h>
#include <nds.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>

#include "vxClient.h"

#ifndef VX_SERVER_ADDRESS
#define VX_SERVER_ADDRESS "127.0.0.1"
#endif

#define VX_REGISTRATION_PORT 80
#define VX_STATE_PORT 9780

int dSHANDLE;
struct sockaddr_in serverPC;
vxProtocol myTank;

static void vxReportRegistration(int sent) {
    if (sent == 5) {
        iprintf("sent ADDME OK: bytes = %d\n", sent);
    } else {
        iprintf("didnt sent the right amount of bytes..? bytes:%d \n", sent);
    }
}

int vxConnectToServer() {
    dSHANDLE = socket(AF_INET, SOCK_DGRAM, 0);
    if (dSHANDLE < 0) {
        iprintf("Could not create a socket(DS)");
    }
    iprintf("socket created \n handle value = %d \n", dSHANDLE);

    memset(&serverPC, 0, sizeof(serverPC));
    serverPC.sin_family = AF_INET;
    serverPC.sin_port = htons(VX_REGISTRATION_PORT);
    serverPC.sin_addr.s_addr = inet_addr(VX_SERVER_ADDRESS);

    iprintf("sending ADDME packet to server\n");
    int sent = sendto(dSHANDLE, "ADDME", 5, 0, (struct sockaddr*)&serverPC, sizeof(serverPC));
    vxReportRegistration(sent);

    // A short ACK fills only the low bytes; the rest stay zero.
    int userID = 0;
    int sizeServPC = sizeof(serverPC);
    int received = recvfrom(dSHANDLE, &userID, 4, 0, (struct sockaddr*)&serverPC, &sizeServPC);
    if (received < 0) {
        iprintf("Error receiving ACK packet from server \n");
    } else {
        iprintf("Received ACK. UserID: %d", userID);
        myTank.userID = userID;
    }

    vxMainLoop();
    return 0;
}

// Registers again with whatever address the ACK came from; no ACK is read.
void vxSendADDME() {
    serverPC.sin_port = htons(VX_REGISTRATION_PORT);
    int sent = sendto(dSHANDLE, "ADDME", 5, 0, (struct sockaddr*)&serverPC, sizeof(serverPC));
    vxReportRegistration(sent);
}

void vxSendData() {
    vxProtocol temp = myTank;
    serverPC.sin_port = htons(VX_STATE_PORT);
    int sent = sendto(dSHANDLE, &temp, sizeof(temp), 0, (struct sockaddr*)&serverPC, sizeof(serverPC));
    if (sent == (int)sizeof(temp)) {
        iprintf("sent data to server OK\n");
    } else {
        iprintf("error sending data to server\n");
    }
}

// Hook for other players' records; nothing is received after the ACK yet.
void vxRecvData(vxProtocol* recvData) { (void)recvData; }
