// The wireless library's IPv4 addresses (main processor).
#ifndef VX_NDS_NETINET_IN_H
#define VX_NDS_NETINET_IN_H

#include "../sys/socket.h"
#include <stdint.h>

#define INADDR_ANY 0x00000000
#define INADDR_NONE 0xFFFFFFFF

namespace vxnet {
struct in_addr {
    uint32_t s_addr;
};

struct sockaddr_in {
    uint16_t sin_family;
    uint16_t sin_port;
    struct in_addr sin_addr;
    unsigned char sin_zero[8];
};

uint16_t htons(uint16_t value);
uint16_t ntohs(uint16_t value);
uint32_t htonl(uint32_t value);
uint32_t ntohl(uint32_t value);
unsigned long inet_addr(const char* text);
}  // namespace vxnet
using vxnet::htonl;
using vxnet::htons;
using vxnet::in_addr;
using vxnet::inet_addr;
using vxnet::ntohl;
using vxnet::ntohs;
using vxnet::sockaddr_in;

static_assert(sizeof(vxnet::sockaddr_in) == 16, "sockaddr_in is 16 bytes");

#endif
