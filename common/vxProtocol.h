// The tank-state record both clients send to the game server after every
// step: three little-endian signed 32-bit integers, sent exactly as laid out.
#ifndef VXPROTOCOL_H
#define VXPROTOCOL_H

#include <stddef.h>
#include <stdint.h>

typedef struct vxProtocol {
    int32_t X;
    int32_t Y;
    int32_t userID;
} vxProtocol;

// The server reads the record byte for byte, so any padding would corrupt it.
static_assert(sizeof(vxProtocol) == 12, "vxProtocol must be exactly 12 bytes");
static_assert(offsetof(vxProtocol, X) == 0 && offsetof(vxProtocol, Y) == 4 && offsetof(vxProtocol, userID) == 8,
              "vxProtocol fields must be packed in order X, Y, userID");

#endif
