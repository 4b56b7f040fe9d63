/* Preloaded into a real binary (LD_PRELOAD) to produce failures that a real
 * system cannot be made to produce on demand. Everything else calls through
 * to the real functions.
 *
 * Call selectors ("N" = only the N-th call, "N-" = the N-th and all later):
 *   VX_FAIL_SOCKET=N             socket(AF_INET, SOCK_DGRAM) returns -1 / EMFILE
 *   VX_FAIL_SENDTO=N             sendto to an IPv4 address returns -1 / ENOBUFS
 *   VX_SHORT_SENDTO=N            sendto to an IPv4 address sends and reports one byte less
 *   VX_FAIL_RECVFROM=N           recvfrom on an IPv4 socket returns -1 / ECONNREFUSED
 *   VX_FAIL_VIDEOINFO=N          SDL_GetVideoInfo returns NULL
 *   VX_FAIL_SETVIDEOMODE_AFTER=N SDL_SetVideoMode returns NULL from the N-th call on
 * Other controls:
 *   VX_RESIZE_ZERO_HEIGHT=1      a polled SDL_VIDEORESIZE event reports height 0
 *   VX_FAKE_HOST=name=a.b.c.d,e.f.g.h   gethostbyname(name) yields these IPv4
 *                                addresses in this order; an empty list yields
 *                                an entry without addresses, "name=ipv6" an
 *                                entry of family AF_INET6
 *   VX_NO_DNS=1                  names under the reserved .invalid domain fail
 *                                with HOST_NOT_FOUND at once, as a resolver must
 *                                answer them, without a query leaving the host
 *   VX_NO_LOOKUPS=path           every name lookup (gethostbyname, getaddrinfo)
 *                                fails at once, and appends "FUNCTION NAME" as
 *                                a line to that file: the resolver cannot show
 *                                them all (it sends no query for a name such
 *                                as "--help")
 *   VX_SWAP_COUNTER=path         counts SDL_GL_SwapBuffers calls in a 64-bit
 *                                counter at the start of that file (created);
 *                                the host tools' frame counter, linked in
 */
#define _GNU_SOURCE
#include <SDL.h>
#include <arpa/inet.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

typedef struct {
    long from;
    int onwards;
} Selector;

static Selector selector(const char* name) {
    Selector s = {0, 0};
    const char* v = getenv(name);
    if (!v || !*v) return s;
    char* end = NULL;
    s.from = strtol(v, &end, 10);
    s.onwards = end && *end == '-';
    if (s.from < 1) s.from = 0;
    return s;
}

/* Counts a call and says whether this one is selected. */
static int hit(const char* name, long* counter) {
    Selector s = selector(name);
    long n = __atomic_add_fetch(counter, 1, __ATOMIC_SEQ_CST);
    if (!s.from) return 0;
    return s.onwards ? n >= s.from : n == s.from;
}

static void* next(const char* symbol) { return dlsym(RTLD_NEXT, symbol); }

/* ---- sockets ---- */

int socket(int domain, int type, int protocol) {
    static long calls;
    int (*real)(int, int, int) = (int (*)(int, int, int))next("socket");
    if (domain == AF_INET && (type & 0xff) == SOCK_DGRAM && hit("VX_FAIL_SOCKET", &calls)) {
        errno = EMFILE;
        return -1;
    }
    return real(domain, type, protocol);
}

ssize_t sendto(int fd, const void* buf, size_t len, int flags, const struct sockaddr* to, socklen_t tolen) {
    static long failCalls, shortCalls;
    ssize_t (*real)(int, const void*, size_t, int, const struct sockaddr*, socklen_t) =
        (ssize_t(*)(int, const void*, size_t, int, const struct sockaddr*, socklen_t))next("sendto");
    if (to && tolen >= sizeof(struct sockaddr_in) && to->sa_family == AF_INET) {
        int fail = hit("VX_FAIL_SENDTO", &failCalls);
        int shorter = hit("VX_SHORT_SENDTO", &shortCalls);
        if (fail) {
            errno = ENOBUFS;
            return -1;
        }
        if (shorter && len > 0) return real(fd, buf, len - 1, flags, to, tolen);
    }
    return real(fd, buf, len, flags, to, tolen);
}

static int isInetSocket(int fd) {
    struct sockaddr_storage a;
    socklen_t len = sizeof a;
    memset(&a, 0, sizeof a);
    return getsockname(fd, (struct sockaddr*)&a, &len) == 0 && a.ss_family == AF_INET;
}

ssize_t recvfrom(int fd, void* buf, size_t len, int flags, struct sockaddr* from, socklen_t* fromlen) {
    static long calls;
    ssize_t (*real)(int, void*, size_t, int, struct sockaddr*, socklen_t*) =
        (ssize_t(*)(int, void*, size_t, int, struct sockaddr*, socklen_t*))next("recvfrom");
    if (isInetSocket(fd) && hit("VX_FAIL_RECVFROM", &calls)) {
        errno = ECONNREFUSED;
        return -1;
    }
    return real(fd, buf, len, flags, from, fromlen);
}

/* ---- resolver ---- */

/* Under VX_NO_LOOKUPS: writes the lookup down; true when it must fail. */
static int refuseLookup(const char* function, const char* name) {
    const char* path = getenv("VX_NO_LOOKUPS");
    if (!path || !*path) return 0;
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd >= 0) {
        dprintf(fd, "%s %s\n", function, name ? name : "(null)");
        close(fd);
    }
    return 1;
}

int getaddrinfo(const char* node, const char* service, const struct addrinfo* hints, struct addrinfo** res) {
    typedef int (*Real)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
    if (refuseLookup("getaddrinfo", node)) return EAI_NONAME;
    return ((Real)next("getaddrinfo"))(node, service, hints, res);
}

static struct hostent fakeEntry;
static char fakeName[256];
static struct in_addr fakeAddresses[8];
static struct in6_addr fakeAddress6;
static char* fakeList[9];
static char* noAliases[1];

struct hostent* gethostbyname(const char* name) {
    struct hostent* (*real)(const char*) = (struct hostent * (*)(const char*)) next("gethostbyname");
    if (refuseLookup("gethostbyname", name)) {
        h_errno = HOST_NOT_FOUND;
        return NULL;
    }
    const char* setting = getenv("VX_FAKE_HOST");
    const char* eq = setting ? strchr(setting, '=') : NULL;
    if (!name || !eq || (size_t)(eq - setting) != strlen(name) || strncmp(setting, name, (size_t)(eq - setting)) != 0) {
        const char* noDns = getenv("VX_NO_DNS");
        size_t n = name ? strlen(name) : 0;
        if (noDns && *noDns == '1' && n >= 8 &&
            (strcasecmp(name + n - 8, ".invalid") == 0 || (n >= 9 && strcasecmp(name + n - 9, ".invalid.") == 0))) {
            h_errno = HOST_NOT_FOUND;
            return NULL;
        }
        return real(name);
    }

    memset(&fakeEntry, 0, sizeof fakeEntry);
    memset(fakeList, 0, sizeof fakeList);
    snprintf(fakeName, sizeof fakeName, "%s", name);
    fakeEntry.h_name = fakeName;
    fakeEntry.h_aliases = noAliases;
    fakeEntry.h_addr_list = fakeList;
    const char* list = eq + 1;
    if (strcmp(list, "ipv6") == 0) {
        inet_pton(AF_INET6, "::1", &fakeAddress6);
        fakeEntry.h_addrtype = AF_INET6;
        fakeEntry.h_length = sizeof fakeAddress6;
        fakeList[0] = (char*)&fakeAddress6;
        return &fakeEntry;
    }
    fakeEntry.h_addrtype = AF_INET;
    fakeEntry.h_length = sizeof(struct in_addr);
    int n = 0;
    while (*list && n < 8) {
        char one[64];
        size_t k = strcspn(list, ",");
        if (k >= sizeof one) k = sizeof one - 1;
        memcpy(one, list, k);
        one[k] = 0;
        if (inet_pton(AF_INET, one, &fakeAddresses[n]) == 1) {
            fakeList[n] = (char*)&fakeAddresses[n];
            ++n;
        }
        list += strcspn(list, ",");
        if (*list == ',') ++list;
    }
    return &fakeEntry;
}

/* ---- SDL ---- */

static void setSdlError(const char* text) {
    void (*set)(const char*, ...) = (void (*)(const char*, ...))dlsym(RTLD_DEFAULT, "SDL_SetError");
    if (set) set("%s", text);
}

const SDL_VideoInfo* SDL_GetVideoInfo(void) {
    static long calls;
    const SDL_VideoInfo* (*real)(void) = (const SDL_VideoInfo* (*)(void))next("SDL_GetVideoInfo");
    if (hit("VX_FAIL_VIDEOINFO", &calls)) {
        setSdlError("injected video query failure");
        return NULL;
    }
    return real();
}

SDL_Surface* SDL_SetVideoMode(int width, int height, int bpp, Uint32 flags) {
    static long calls;
    SDL_Surface* (*real)(int, int, int, Uint32) = (SDL_Surface * (*)(int, int, int, Uint32)) next("SDL_SetVideoMode");
    long n = __atomic_add_fetch(&calls, 1, __ATOMIC_SEQ_CST);
    const char* after = getenv("VX_FAIL_SETVIDEOMODE_AFTER");
    long from = after ? strtol(after, NULL, 10) : 0;
    if (from > 0 && n >= from) {
        setSdlError("injected mode-set failure");
        return NULL;
    }
    return real(width, height, bpp, flags);
}

int SDL_PollEvent(SDL_Event* event) {
    int (*real)(SDL_Event*) = (int (*)(SDL_Event*))next("SDL_PollEvent");
    int r = real(event);
    if (r && event && event->type == SDL_VIDEORESIZE) {
        const char* zero = getenv("VX_RESIZE_ZERO_HEIGHT");
        if (zero && *zero == '1') event->resize.h = 0;
    }
    return r;
}
