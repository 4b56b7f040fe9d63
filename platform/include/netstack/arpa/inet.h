#ifndef VX_NDS_ARPA_INET_H
#define VX_NDS_ARPA_INET_H
#include <netinet/in.h>
#endif
