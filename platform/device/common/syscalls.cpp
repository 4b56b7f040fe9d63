// What newlib asks of the system below it: a heap for malloc, and a place for
// standard output (the console on the main processor, nowhere on the other).
#include <errno.h>
#include <sys/stat.h>

#include "device.h"

extern "C" {

// Set by the linker script: the heap runs from the end of the program's
// memory to the first byte it may not take.
extern char __heap_start[];
extern char __heap_end[];

// The console's writer (main processor), or none.
int vxConsoleWrite(const char* text, int length) __attribute__((weak));

void* _sbrk(ptrdiff_t increment) {
    static char* top = __heap_start;
    if (increment > __heap_end - top || increment < __heap_start - top) {
        errno = ENOMEM;
        return reinterpret_cast<void*>(-1);
    }
    char* previous = top;
    top += increment;
    return previous;
}

int _write(int fd, const char* text, int length) {
    if (fd != 1 && fd != 2) {
        errno = EBADF;
        return -1;
    }
    if (vxConsoleWrite) vxConsoleWrite(text, length);
    return length;
}

int _read(int, char*, int) {
    errno = EBADF;
    return -1;
}

int _close(int) { return -1; }
int _lseek(int, int, int) { return 0; }
int _isatty(int fd) { return fd <= 2; }

int _fstat(int fd, struct stat* st) {
    if (fd > 2) return -1;
    st->st_mode = S_IFCHR;
    return 0;
}

int _getpid(void) { return 1; }

int _kill(int, int) {
    errno = EINVAL;
    return -1;
}

// Nothing to return to: wait for interrupts for ever.
void _exit(int) {
    for (;;) swiWaitForVBlank();
}

}  // extern "C"
