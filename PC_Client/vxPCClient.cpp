#include "vxPCClient.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <arpa/inet.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

vxProtocol myTank;
int sHandle;
struct hostent* server;
struct sockaddr_in lSOCK;
SDL_Surface* surface;

namespace {

const unsigned short registrationPort = 9779;
const unsigned short statePort = 9780;
const int windowWidth = 512;
const int windowHeight = 512;
const int windowBpp = 16;

const char usageText[] =
    "Usage: vxPCClient SERVER\n"
    "\n"
    "Desktop client of the vx tank game: registers with the game server SERVER\n"
    "(a host name or dotted IPv4 address), then opens a 512x512 window.\n"
    "  --help     this text\n"
    "  --version  the version\n"
    "Arrow keys move the tank; each step is sent to the server. Escape or closing\n"
    "the window quits. Errors go to stdout, video errors to stderr; the exit\n"
    "status is then 1, or 255 when SERVER cannot be resolved.\n";

// Output may go to a pipe or a log; a line must be there even if the process
// is killed later, so every line is flushed as it is written.
void say(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
void say(FILE* stream, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vfprintf(stream, format, args);
    va_end(args);
    fflush(stream);
}

// The address list of a host entry is only usable when it is IPv4 and not
// empty; anything else counts as a name that did not resolve.
bool hasIPv4Address(const struct hostent* host) {
    return host && host->h_addrtype == AF_INET && host->h_length == static_cast<int>(sizeof(struct in_addr)) &&
           host->h_addr_list && host->h_addr_list[0];
}

}  // namespace

void Quit(int returnCode) {
    SDL_Quit();
    exit(returnCode);
}

int initGL() {
    glShadeModel(GL_SMOOTH);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    // The tank sits exactly on the far plane; LEQUAL keeps it drawn.
    glDepthFunc(GL_LEQUAL);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    return 1;
}

int resizeWindow(int width, int height) {
    if (height == 0) height = 1;
    GLfloat ratio = static_cast<GLfloat>(width) / static_cast<GLfloat>(height);
    glViewport(0, 0, static_cast<GLsizei>(width), static_cast<GLsizei>(height));
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(138.0, ratio, 0.1f, 100.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    return 1;
}

int drawGLScene() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    glLoadIdentity();

    int userID = myTank.userID;
    int x = myTank.X;
    int y = myTank.Y;
    glTranslatef(static_cast<GLfloat>(2 * x - 256), static_cast<GLfloat>(2 * y - 256), -100.0f);

    // userID 0 gives infinite components; GL clamps them like any other value.
    double u = static_cast<double>(userID);
    double q = 1.0 / u;
    glColor3f(static_cast<GLfloat>(1.0 + q), static_cast<GLfloat>(1.0 + q), static_cast<GLfloat>(10.0 + q));

    glScalef(10.0f, 10.0f, 10.0f);
    glBegin(GL_LINES);
    glVertex3f(0.5f, 0.5f, 0.0f);
    glVertex3f(-0.5f, -0.5f, 0.0f);
    glVertex3f(0.5f, -0.5f, 0.0f);
    glVertex3f(-0.5f, 0.5f, 0.0f);
    glEnd();

    SDL_GL_SwapBuffers();
    return 1;
}

void vxSendData() {
    vxProtocol temp;
    memcpy(&temp, &myTank, sizeof temp);
    lSOCK.sin_port = htons(statePort);
    ssize_t sentBytes =
        sendto(sHandle, &temp, sizeof temp, 0, reinterpret_cast<struct sockaddr*>(&lSOCK), sizeof lSOCK);
    if (sentBytes != static_cast<ssize_t>(sizeof temp))
        say(stdout, "error sending data to server %d\n", static_cast<int>(sentBytes));
}

namespace {

// One step along one axis, kept within 0..most, then sent and drawn.
void step(int32_t& coordinate, int32_t by, int32_t most) {
    coordinate += by;
    if (coordinate > most) coordinate = most;
    if (coordinate < 0) coordinate = 0;
    vxSendData();
    drawGLScene();
}

}  // namespace

void handleKeyPress(SDL_keysym* keysym) {
    // Every held key counts, not just the one whose event this is.
    (void)keysym;
    Uint8* keystate = SDL_GetKeyState(NULL);

    if (keystate[SDLK_UP]) step(myTank.Y, 2, 255);
    if (keystate[SDLK_DOWN]) step(myTank.Y, -2, 255);
    // A left step caps X at 192, as the game always has.
    if (keystate[SDLK_LEFT]) step(myTank.X, -2, 192);
    if (keystate[SDLK_RIGHT]) step(myTank.X, 2, 255);
    if (keystate[SDLK_ESCAPE]) Quit(0);
}

int openGLinit() {
    int done = 0;
    SDL_Event event;

    // Without a usable X display SDL would fall back to drawing text on the
    // terminal; X11 only, unless the user picks a driver.
    setenv("SDL_VIDEODRIVER", "x11", 0);
    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        say(stderr, "Video initialization failed: %s\n", SDL_GetError());
        Quit(1);
    }
    const SDL_VideoInfo* videoInfo = SDL_GetVideoInfo();
    if (!videoInfo) {
        say(stderr, "Video query failed: %s\n", SDL_GetError());
        Quit(1);
    }

    Uint32 videoFlags = SDL_OPENGL;
    videoFlags |= SDL_HWSURFACE | SDL_ASYNCBLIT;
    videoFlags |= SDL_HWPALETTE;
    videoFlags |= SDL_RESIZABLE;
    if (videoInfo->hw_available) videoFlags |= SDL_HWSURFACE;
    if (videoInfo->blit_hw) videoFlags |= SDL_HWACCEL;

    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);

    surface = SDL_SetVideoMode(windowWidth, windowHeight, windowBpp, videoFlags);
    if (!surface) {
        say(stderr, "Video mode set failed: %s\n", SDL_GetError());
        Quit(1);
    }

    initGL();
    resizeWindow(windowWidth, windowHeight);

    // Never sleeps: drain the queue, then draw, as fast as the swap allows.
    while (!done) {
        while (SDL_PollEvent(&event)) {
            switch (event.type) {
            case SDL_ACTIVEEVENT:
                break;
            case SDL_VIDEORESIZE:
                surface = SDL_SetVideoMode(event.resize.w, event.resize.h, windowBpp, videoFlags);
                if (!surface) {
                    say(stderr, "Could not get a surface after resize: %s\n", SDL_GetError());
                    Quit(1);
                }
                resizeWindow(event.resize.w, event.resize.h);
                break;
            case SDL_KEYDOWN:
                handleKeyPress(&event.key.keysym);
                break;
            case SDL_QUIT:
                done = 1;
                break;
            default:
                break;
            }
        }
        drawGLScene();
    }

    Quit(0);
    return 0;
}

int main(int argc, char** argv) {
    // No host name begins with '-': such an argument is an option and is
    // never handed to the resolver.
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] != '-') continue;
        if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
            say(stdout, "%s", usageText);
            exit(0);
        }
        if (strcmp(arg, "--version") == 0) {
            say(stdout, "vxPCClient (vxtanks) %s\n", VX_VERSION);
            exit(0);
        }
        say(stdout, "vxPCClient: unknown option '%s' (see --help)\n", arg);
        exit(1);
    }

    if (argc != 2) {
        say(stdout, "Please enter destination computer IP or name\n");
        exit(1);
    }

    server = gethostbyname(argv[1]);
    if (!hasIPv4Address(server)) {
        say(stdout, "\nerror resolving DNS\n");
        return -1;
    }

    sHandle = socket(AF_INET, SOCK_DGRAM, 17);
    // Not fatal here: the registration send on a bad descriptor fails and
    // reports it.
    if (sHandle < 0) say(stdout, "\nInitial Socket Setup\n");

    memset(&lSOCK, 0, sizeof lSOCK);
    lSOCK.sin_family = AF_INET;
    lSOCK.sin_port = htons(registrationPort);
    struct in_addr first;
    memcpy(&first, server->h_addr_list[0], sizeof first);
    lSOCK.sin_addr.s_addr = inet_addr(inet_ntoa(first));

    ssize_t ret = 0;
    char buffer[6];
    memcpy(buffer, "ADDME", sizeof buffer);
    ret = sendto(sHandle, buffer, strlen(buffer), 0, reinterpret_cast<struct sockaddr*>(&lSOCK), sizeof lSOCK);
    if (ret != static_cast<ssize_t>(strlen("ADDME"))) {
        say(stdout, "error sending auth request \n");
        exit(1);
    }

    // Short ACKs fill only the low bytes; the rest stay zero.
    int32_t userID = 0;
    socklen_t sizelSOCK = sizeof lSOCK;
    ssize_t got;
    do {
        got = recvfrom(sHandle, &userID, sizeof userID, 0, reinterpret_cast<struct sockaddr*>(&lSOCK), &sizelSOCK);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        say(stdout, "Error receiving ACK packet from server \n");
        exit(1);
    }

    say(stdout, "Received ACK. UserID: %d\n", userID);
    myTank.userID = userID;
    openGLinit();
    return 0;
}
