// Start-up stopwatch for X11 programs, free of Qt so that its own start does not count: it connects
// to the X server, watches the top-level windows, takes the time, forks and executes the program.
// It then reports, in milliseconds from just before the fork,
//   mapped   the first moment a top-level window with exactly the given title is mapped
//   painted  the first drawing into that window from the moment it was mapped (Damage extension;
//            -1 when the server lacks the extension or nothing was drawn within 2 s)
// as one line "mapped painted" on stdout, and ends the program with SIGTERM (SIGKILL after 2 s).
// With -v every map, title change and drawing seen on the way goes to stderr with its time.
// Exit code 0 when the window was seen; 1 when the program ended before or the time-out passed;
// 2 on a usage or X error.
//
//   launch [-v] [-t TIMEOUT_MS] TITLE PROGRAM [ARGS...]     (no window manager may run: the window
//                                                            must be a direct child of the root)
// Built by bench/startup/run.sh:  cc -O2 -o launch launch.c -lXdamage -lX11
#define _GNU_SOURCE
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double nowMs(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Windows go away between the event and our request; those errors are expected.
static int ignoreXError(Display* dpy, XErrorEvent* error)
{
    (void)dpy;
    (void)error;
    return 0;
}

// True when the window's _NET_WM_NAME or WM_NAME, whatever its text type, is exactly the title.
static int hasTitle(Display* dpy, Window w, const char* title)
{
    const Atom names[2] = {XInternAtom(dpy, "_NET_WM_NAME", False), XA_WM_NAME};
    const size_t length = strlen(title);
    for (int i = 0; i < 2; ++i) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* value = NULL;
        if (XGetWindowProperty(dpy, w, names[i], 0, 1024, False, AnyPropertyType, &type, &format, &count,
                               &after, &value) != Success)
            continue;
        const int same = value && format == 8 && count == length && memcmp(value, title, length) == 0;
        if (value)
            XFree(value);
        if (same)
            return 1;
    }
    return 0;
}

static void endProgram(pid_t pid)
{
    kill(pid, SIGTERM);
    const double deadline = nowMs() + 2000;
    while (waitpid(pid, NULL, WNOHANG) == 0) {
        if (nowMs() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, NULL, 0);
            return;
        }
        usleep(5000);
    }
}

int main(int argc, char** argv)
{
    int verbose = 0;
    double timeoutMs = 20000;
    int opt;
    while ((opt = getopt(argc, argv, "+vt:")) != -1) {
        if (opt == 'v')
            verbose = 1;
        else if (opt == 't')
            timeoutMs = atof(optarg);
        else
            return 2;
    }
    if (argc - optind < 2) {
        fprintf(stderr, "usage: %s [-v] [-t TIMEOUT_MS] TITLE PROGRAM [ARGS...]\n", argv[0]);
        return 2;
    }
    const char* title = argv[optind];
    char** command = argv + optind + 1;

    // Xvfb refuses a connection now and then (EAGAIN, ECONNRESET) right after another one closed.
    Display* dpy = NULL;
    for (int attempt = 0; attempt < 50 && !dpy; ++attempt) {
        dpy = XOpenDisplay(NULL);
        if (!dpy)
            usleep(10000);
    }
    if (!dpy) {
        fprintf(stderr, "launch: cannot open the display\n");
        return 2;
    }
    XSetErrorHandler(ignoreXError);
    fcntl(ConnectionNumber(dpy), F_SETFD, FD_CLOEXEC);
    int damageEvent = 0, damageError = 0;
    const int haveDamage = XDamageQueryExtension(dpy, &damageEvent, &damageError);
    const Window root = DefaultRootWindow(dpy);
    const Atom netName = XInternAtom(dpy, "_NET_WM_NAME", False);
    XSelectInput(dpy, root, SubstructureNotifyMask);
    XSync(dpy, False);

    const double start = nowMs();
    const pid_t pid = fork();
    if (pid < 0) {
        perror("launch: fork");
        return 2;
    }
    if (pid == 0) {
        execvp(command[0], command);
        perror("launch: exec");
        _exit(127);
    }

    // Every new top-level window is watched from its creation, before the program can map or
    // draw into it, so neither a title set late nor the first paint is missed.
    Window mapped[256];
    int mappedCount = 0;
    Window target = None;
    double mappedAt = -1, paintedAt = -1;
    int status = 0;
    while (1) {
        const double elapsed = nowMs() - start;
        if (target != None && (paintedAt >= 0 || !haveDamage || elapsed - mappedAt > 2000))
            break;
        if (target == None && elapsed > timeoutMs) {
            fprintf(stderr, "launch: no window titled \"%s\" within %.0f ms\n", title, timeoutMs);
            endProgram(pid);
            return 1;
        }
        if (waitpid(pid, &status, WNOHANG) == pid) {
            fprintf(stderr, "launch: the program ended before its window was seen (status %d)\n", status);
            return 1;
        }
        if (!XPending(dpy)) {
            struct pollfd fd = {ConnectionNumber(dpy), POLLIN, 0};
            poll(&fd, 1, 10);
            if (!XPending(dpy))
                continue;
        }
        XEvent ev;
        XNextEvent(dpy, &ev);
        const double t = nowMs() - start;
        Window candidate = None;
        if (ev.type == CreateNotify && ev.xcreatewindow.parent == root) {
            XSelectInput(dpy, ev.xcreatewindow.window, PropertyChangeMask);
            if (haveDamage)
                XDamageCreate(dpy, ev.xcreatewindow.window, XDamageReportRawRectangles);
        } else if (ev.type == MapNotify && ev.xmap.event == root) {
            if (verbose)
                fprintf(stderr, "%8.1f map 0x%lx\n", t, ev.xmap.window);
            if (mappedCount < 256)
                mapped[mappedCount++] = ev.xmap.window;
            candidate = ev.xmap.window;
        } else if (ev.type == PropertyNotify &&
                   (ev.xproperty.atom == XA_WM_NAME || ev.xproperty.atom == netName)) {
            if (verbose)
                fprintf(stderr, "%8.1f title 0x%lx\n", t, ev.xproperty.window);
            for (int i = 0; i < mappedCount; ++i) {
                if (mapped[i] == ev.xproperty.window)
                    candidate = ev.xproperty.window;
            }
        } else if (haveDamage && ev.type == damageEvent + XDamageNotify) {
            const XDamageNotifyEvent* d = (const XDamageNotifyEvent*)&ev;
            if (verbose)
                fprintf(stderr, "%8.1f draw 0x%lx %dx%d+%d+%d\n", t, d->drawable, d->area.width,
                        d->area.height, d->area.x, d->area.y);
            if (d->drawable == target && paintedAt < 0)
                paintedAt = t;
        }
        if (target == None && candidate != None && hasTitle(dpy, candidate, title)) {
            target = candidate;
            mappedAt = t;
        }
    }
    printf("%.1f %.1f\n", mappedAt, paintedAt);
    fflush(stdout);
    endProgram(pid);
    XCloseDisplay(dpy);
    return 0;
}
