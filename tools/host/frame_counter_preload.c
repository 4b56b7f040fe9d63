/* Preloaded into the desktop client (LD_PRELOAD): counts its
 * SDL_GL_SwapBuffers calls, the frames it presents, in a 64-bit counter at
 * the start of the file VX_SWAP_COUNTER names (created). Everything else is
 * the real call. */
#define _GNU_SOURCE
#include <SDL.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

static volatile uint64_t* swapCounter(void) {
    static volatile uint64_t* counter;
    static int tried;
    if (!tried) {
        tried = 1;
        const char* path = getenv("VX_SWAP_COUNTER");
        if (path && *path) {
            int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            if (fd >= 0) {
                if (ftruncate(fd, 4096) == 0) {
                    void* p = mmap(NULL, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
                    if (p != MAP_FAILED) counter = (volatile uint64_t*)p;
                }
                close(fd);
            }
        }
    }
    return counter;
}

/* Opened at load time, so the file can be removed once the program runs. */
__attribute__((constructor)) static void openSwapCounter(void) { (void)swapCounter(); }

void SDL_GL_SwapBuffers(void) {
    void (*real)(void) = (void (*)(void))dlsym(RTLD_NEXT, "SDL_GL_SwapBuffers");
    real();
    volatile uint64_t* c = swapCounter();
    if (c) __atomic_add_fetch(c, 1, __ATOMIC_SEQ_CST);
}
