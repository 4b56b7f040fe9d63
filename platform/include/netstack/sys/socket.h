// The wireless library's socket layer (main processor).
#ifndef VX_NDS_SYS_SOCKET_H
#define VX_NDS_SYS_SOCKET_H

#include <stdint.h>

#define AF_INET 2
#define PF_INET AF_INET
#define SOCK_STREAM 1
#define SOCK_DGRAM 2
#define IPPROTO_UDP 17

namespace vxnet {
typedef int socklen_t;

struct sockaddr {
    uint16_t sa_family;
    char sa_data[14];
};

int socket(int domain, int type, int protocol);
int sendto(int socket, const void* data, int sendlength, int flags, const struct sockaddr* addr, int addrlen);
int recvfrom(int socket, void* data, int recvlength, int flags, struct sockaddr* addr, int* addrlen);
int closesocket(int socket);
}  // namespace vxnet
using vxnet::closesocket;
using vxnet::recvfrom;
using vxnet::sendto;
using vxnet::sockaddr;
using vxnet::socket;
// The host C library declares its own socklen_t from <unistd.h>, which C++
// headers pull in; the first declaration wins, as between the C library's
// own headers.
#ifndef __socklen_t_defined
#define __socklen_t_defined
using vxnet::socklen_t;
#endif

#endif
