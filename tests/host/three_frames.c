/* Presents three frames on SDL's dummy video driver and exits: a program for
 * the frame counter's preload to count. The mode has no OpenGL, so each swap
 * does nothing but reach the counter. */
#include <SDL.h>

int main(int argc, char** argv) {
    (void)argc;
    (void)argv;
    if (SDL_Init(SDL_INIT_VIDEO) != 0) return 1;
    if (!SDL_SetVideoMode(8, 8, 0, 0)) return 2;
    for (int i = 0; i < 3; ++i) SDL_GL_SwapBuffers();
    SDL_Quit();
    return 0;
}
