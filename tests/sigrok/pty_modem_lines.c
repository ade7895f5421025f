/* Preloaded into a serial-port program that is given a pseudo-terminal as its port (see
 * scripts/sigrok-pty.sh). A pseudo-terminal has no modem lines: the kernel refuses the ioctls that
 * read and set them (TIOCMGET, TIOCMSET, TIOCMBIS, TIOCMBIC), and a serial library that insists on
 * them gives up on the port. For a pseudo-terminal descriptor, and only for one, this answers them
 * as a port whose DTR and RTS are set as asked and whose CTS, DSR and CD are always up (a
 * connected cable). Every other ioctl, and every ioctl on any other descriptor, goes to the C
 * library unchanged. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

/* Linux numbers the slave sides of pseudo-terminals with these major device numbers. */
enum { PtySlaveFirstMajor = 136, PtySlaveLastMajor = 143 };

static int outputs = TIOCM_DTR | TIOCM_RTS;

static int is_pty(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return 0;
    return major(st.st_rdev) >= PtySlaveFirstMajor && major(st.st_rdev) <= PtySlaveLastMajor;
}

static int modem_lines(unsigned long request, int* lines)
{
    const int asked = *lines & (TIOCM_DTR | TIOCM_RTS);
    switch (request) {
    case TIOCMGET:
        *lines = outputs | TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
        return 0;
    case TIOCMSET:
        outputs = asked;
        return 0;
    case TIOCMBIS:
        outputs |= asked;
        return 0;
    case TIOCMBIC:
        outputs &= ~asked;
        return 0;
    }
    return -1;
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if ((request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC) &&
        argument != 0 && is_pty(fd))
        return modem_lines(request, (int*)argument);
    static int (*next)(int, unsigned long, ...) = 0;
    if (next == 0)
        next = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    return next(fd, request, argument);
}
