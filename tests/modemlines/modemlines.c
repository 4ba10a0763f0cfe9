/*
 * Modem-control lines for pseudo-terminals, for tests.
 *
 * A pseudo-terminal has no RTS, DTR, CTS, DSR, DCD or RI: the kernel answers
 * TIOCMGET, TIOCMSET, TIOCMBIS and TIOCMBIC on it with ENOTTY. Preloaded
 * (LD_PRELOAD) into a program, this library answers those four requests on
 * pseudo-terminal slaves from a small state file per device, so that a test
 * can watch the program drive RTS and DTR and can drive CTS, DSR, DCD and RI
 * itself. QSerialPort calls libc's ioctl() directly, which is what lets an
 * interposed ioctl() see its requests.
 *
 * Environment:
 *   ZELVO_MODEMLINES_DIR  folder for the state and log files; read at every
 *                         call, so a test may set it after start-up. Unset or
 *                         empty: the library does nothing at all.
 *
 * Files in that folder, for the slave /dev/pts/N (device name "pts-N"):
 *   pts-N.lines   one line "RTS=0 DTR=0 CTS=0 DSR=0 DCD=0 RI=0"; a missing
 *                 file or key counts as 0. Replaced by atomic rename only,
 *                 so a reader never sees half a file.
 *   pts-N.lock    flock()ed exclusively around every read-modify-write of
 *                 pts-N.lines; a test that changes CTS takes it too.
 *   modemlines.log  one line per modem-line request of every device, in the
 *                 order they happened (O_APPEND, one write() per line):
 *                 t=<CLOCK_MONOTONIC ns> wall=<CLOCK_REALTIME ns> pid=<pid>
 *                 dev=<name> op=<get|set|bis|bic|wait|woke|ended> lines=<lines written|->
 *                 RTS=<0|1> DTR=.. CTS=.. DSR=.. DCD=.. RI=.. req=<CLOCK_MONOTONIC ns>
 *                 The line values are the state after the request; t is
 *                 taken once the state file holds them, req as the program
 *                 made the request, before this library's own file work
 *                 (the same as t for a wait and its end). A test
 *                 that changes an input line appends its own line with
 *                 op=drive, so the order of test and program is in one file.
 *
 * Waiting for a change, as a serial driver that reports them does:
 *   TIOCMIWAIT    blocks until one of the input lines in its mask (TIOCM_CTS,
 *                 TIOCM_DSR, TIOCM_CD, TIOCM_RNG) differs from its value at the
 *                 call, watching the state file's folder with inotify. Fails
 *                 with EIO when the master goes away (or is gone already),
 *                 and with EINTR when a signal handler runs, whether or not
 *                 the handler was installed with SA_RESTART (the kernel's
 *                 restarts then; a program that stops a waiting thread with a
 *                 signal installs its handler without it, so it sees no
 *                 difference). A pulse that is over before the waiter reads
 *                 the state again goes unseen. Logged (lines=-) as op=wait
 *                 with the state it waits from, once it is watching (a
 *                 change after that line is never missed), as op=woke
 *                 with the state it woke on, when it returns 0, and as
 *                 op=ended when it fails (a signal, the master gone), so that
 *                 a test can tell a wait still pending from one given up.
 *   TIOCGICOUNT   succeeds with every count 0: enough for a program to find
 *                 out that the device reports changes; the counts themselves
 *                 are not modelled.
 *
 *   ZELVO_MODEMLINES_NO_WAIT  set and not "0": both requests go to the real
 *                 ioctl(), which refuses them on a pseudo-terminal (ENOTTY,
 *                 EINVAL) as a USB adapter whose driver has no such support
 *                 does, so that a test can take a program's polling path.
 *
 * A request on a slave whose master went away fails as the kernel fails it
 * (EIO), as a real device that was unplugged does. Everything that is not one
 * of these requests on a pseudo-terminal slave goes to the real ioctl().
 *
 * Opens: every open of a path under /dev/ (open, open64, openat, openat64
 * and their checked forms) is logged, as it is tried, to opens.log in the
 * same folder: t=<CLOCK_MONOTONIC ns> pid=<pid> path=<path as given>, so that
 * a test can tell which devices a program reached for, and that it never
 * touched the machine's own serial ports.
 *
 * Not modelled: the kernel's raising of RTS and DTR at open and dropping them
 * at the last close (HUPCL); the state file keeps whatever was last written.
 */
#define _GNU_SOURCE

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <stdint.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#define EXPORT __attribute__((visibility("default")))

/* Unix98 pseudo-terminal slaves: character majors 136 to 143. */
enum { PTY_SLAVE_MAJOR_FIRST = 136, PTY_SLAVE_MAJOR_LAST = 143 };

/* The lines the host drives; the rest are inputs that only the far end sets. */
static const int k_outputs = TIOCM_RTS | TIOCM_DTR;

static const struct {
    const char *name;
    int bit;
} k_lines[] = {
    {"RTS", TIOCM_RTS}, {"DTR", TIOCM_DTR}, {"CTS", TIOCM_CTS},
    {"DSR", TIOCM_DSR}, {"DCD", TIOCM_CAR}, {"RI", TIOCM_RNG},
};
enum { LINE_COUNT = sizeof k_lines / sizeof k_lines[0] };

typedef int (*ioctl_fn)(int, unsigned long, ...);

/* Lets a test find out whether the library is loaded in its own process. */
EXPORT const char zelvo_modemlines_loaded[] = "zelvo_modemlines 1";

static ioctl_fn real_ioctl(void)
{
    static ioctl_fn next;
    if (!next)
        next = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
    return next;
}

/* The device name ("pts-N") of a pseudo-terminal slave descriptor, or 0. */
static int pty_slave_name(int fd, char *name, size_t size)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return 0;
    const unsigned maj = major(st.st_rdev);
    if (maj < PTY_SLAVE_MAJOR_FIRST || maj > PTY_SLAVE_MAJOR_LAST)
        return 0;
    char link[64];
    char target[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n > 0) {
        target[n] = '\0';
        const char *prefix = "/dev/pts/";
        const char *number = target + strlen(prefix);
        const size_t digits = strncmp(target, prefix, strlen(prefix)) == 0 ? strspn(number, "0123456789") : 0;
        if (digits > 0 && number[digits] == '\0' && digits + 5 <= size) {
            memcpy(name, "pts-", 4);
            memcpy(name + 4, number, digits + 1);
            return 1;
        }
    }
    snprintf(name, size, "pts-rdev-%u-%u", maj, (unsigned)minor(st.st_rdev));
    return 1;
}

static int parse_state(const char *text)
{
    int state = 0;
    for (int i = 0; i < LINE_COUNT; ++i) {
        char key[8];
        snprintf(key, sizeof key, "%s=", k_lines[i].name);
        for (const char *p = text; (p = strstr(p, key)) != NULL; p += strlen(key)) {
            /* A whole word only: "RI=" must not match inside another key. */
            if (p != text && p[-1] != ' ' && p[-1] != '\n' && p[-1] != '\t')
                continue;
            if (p[strlen(key)] == '1')
                state |= k_lines[i].bit;
            break;
        }
    }
    return state;
}

static int format_state(int state, char *out, size_t size)
{
    size_t used = 0;
    for (int i = 0; i < LINE_COUNT && used < size; ++i)
        used += (size_t)snprintf(out + used, size - used, "%s%s=%d", i ? " " : "", k_lines[i].name,
                                 (state & k_lines[i].bit) ? 1 : 0);
    return (int)used;
}

static int read_state(const char *dir, const char *name, int *state)
{
    char path[PATH_MAX];
    snprintf(path, sizeof path, "%s/%s.lines", dir, name);
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT)
            return -1;
        *state = 0;
        return 0;
    }
    char text[256];
    size_t used = 0;
    ssize_t n;
    while (used < sizeof text - 1 && (n = read(fd, text + used, sizeof text - 1 - used)) != 0) {
        if (n < 0) {
            if (errno == EINTR)
                continue;
            close(fd);
            return -1;
        }
        used += (size_t)n;
    }
    text[used] = '\0';
    close(fd);
    *state = parse_state(text);
    return 0;
}

static int write_all(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        data += n;
        size -= (size_t)n;
    }
    return 0;
}

static int write_state(const char *dir, const char *name, int state)
{
    char path[PATH_MAX];
    char temp[PATH_MAX];
    snprintf(path, sizeof path, "%s/%s.lines", dir, name);
    snprintf(temp, sizeof temp, "%s/.%s.lines.%ld", dir, name, (long)getpid());
    char text[128];
    const int size = format_state(state, text, sizeof text - 1);
    text[size] = '\n';
    const int fd = open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    if (write_all(fd, text, (size_t)size + 1) != 0) {
        close(fd);
        unlink(temp);
        return -1;
    }
    close(fd);
    if (rename(temp, path) != 0) {
        unlink(temp);
        return -1;
    }
    return 0;
}

static long long clock_ns(clockid_t clock)
{
    struct timespec ts;
    clock_gettime(clock, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

static void log_request(const char *dir, const char *name, const char *op, int written, int state,
                        long long requested)
{
    /* Taken before anything else, so the time is as close to the request as can be. */
    const long long mono = clock_ns(CLOCK_MONOTONIC);
    if (!requested)
        requested = mono;
    const long long wall = clock_ns(CLOCK_REALTIME);
    char lines[16] = "-";
    if (written) {
        lines[0] = '\0';
        if (written & TIOCM_RTS)
            strcat(lines, "RTS");
        if (written & TIOCM_DTR)
            strcat(lines, lines[0] ? ",DTR" : "DTR");
    }
    char values[128];
    format_state(state, values, sizeof values);
    char entry[512];
    const int size = snprintf(entry, sizeof entry, "t=%lld wall=%lld pid=%ld dev=%s op=%s lines=%s %s req=%lld\n",
                              mono, wall, (long)getpid(), name, op, lines, values, requested);
    char path[PATH_MAX];
    snprintf(path, sizeof path, "%s/modemlines.log", dir);
    const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    /* One write() with O_APPEND: lines of several processes never mix. */
    if (size > 0 && (size_t)size < sizeof entry)
        (void)write_all(fd, entry, (size_t)size);
    close(fd);
}

static int emulate(const char *dir, const char *name, unsigned long request, int *arg, long long requested)
{
    if (!arg) {
        errno = EFAULT;
        return -1;
    }
    if (request == TIOCMGET) {
        int state;
        if (read_state(dir, name, &state) != 0) {
            errno = EIO;
            return -1;
        }
        *arg = state;
        log_request(dir, name, "get", 0, state, requested);
        return 0;
    }

    char lock_path[PATH_MAX];
    snprintf(lock_path, sizeof lock_path, "%s/%s.lock", dir, name);
    const int lock = open(lock_path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0) {
        errno = EIO;
        return -1;
    }
    while (flock(lock, LOCK_EX) != 0) {
        if (errno != EINTR) {
            close(lock);
            errno = EIO;
            return -1;
        }
    }
    int state;
    int result = read_state(dir, name, &state);
    int written = 0;
    const char *op = "set";
    if (result == 0) {
        const int bits = *arg & k_outputs;
        if (request == TIOCMSET) {
            written = k_outputs;
            state = (state & ~k_outputs) | bits;
        } else if (request == TIOCMBIS) {
            op = "bis";
            written = bits;
            state |= bits;
        } else {
            op = "bic";
            written = bits;
            state &= ~bits;
        }
        result = write_state(dir, name, state);
        if (result == 0)
            log_request(dir, name, op, written, state, requested);
    }
    flock(lock, LOCK_UN);
    close(lock);
    if (result != 0) {
        errno = EIO;
        return -1;
    }
    return 0;
}

/* Whether the slave's master is gone (then the kernel answers EIO). */
static int master_gone(ioctl_fn next, int fd)
{
    const int saved = errno;
    int probe = 0;
    const int gone = next(fd, TIOCMGET, &probe) != 0 && errno != ENOTTY && errno != EINVAL;
    errno = saved;
    return gone;
}

/* The waiting thread's inotify descriptor, kept for the thread's life.
 * Closing an inotify descriptor waits for the kernel's grace period (several
 * milliseconds): closed at every wake, that time would fall between the line
 * change and the program's return from its wait, and a benchmark would count
 * it as the program's. The key's destructor closes it as the thread ends. */
static __thread int t_watch = -1;
static __thread int t_watched = -1; /* watch descriptor of the folder, or -1 */
static pthread_key_t s_watch_key;
static pthread_once_t s_watch_key_once = PTHREAD_ONCE_INIT;

static void close_watch(void *value)
{
    close((int)(intptr_t)value - 1);
}

static void make_watch_key(void)
{
    (void)pthread_key_create(&s_watch_key, close_watch);
}

/* The thread's descriptor, watching `dir` (and nothing else) with no stale
 * events queued; -1 on failure. */
static int folder_watch(const char *dir)
{
    if (t_watch < 0) {
        if (pthread_once(&s_watch_key_once, make_watch_key) != 0)
            return -1;
        t_watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (t_watch < 0)
            return -1;
        (void)pthread_setspecific(s_watch_key, (void *)(intptr_t)(t_watch + 1));
    }
    /* Renames into place and other writers' closes, and a new file. Added by
     * path at every wait: a test may point ZELVO_MODEMLINES_DIR elsewhere. */
    const int watched = inotify_add_watch(t_watch, dir, IN_MOVED_TO | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE);
    if (watched < 0)
        return -1;
    if (t_watched >= 0 && t_watched != watched)
        (void)inotify_rm_watch(t_watch, t_watched);
    t_watched = watched;
    char events[4096] __attribute__((aligned(__alignof__(struct inotify_event))));
    while (read(t_watch, events, sizeof events) > 0) {
    }
    return t_watch;
}

/* TIOCMIWAIT: waits until an input line of `mask` changes. */
static int wait_for_change(ioctl_fn next, int fd, const char *dir, const char *name, int mask)
{
    mask &= TIOCM_CTS | TIOCM_DSR | TIOCM_CAR | TIOCM_RNG;
    const int watch = folder_watch(dir);
    if (watch < 0) {
        errno = EIO;
        return -1;
    }
    /* Read after the watch is in place: no change can fall in between. */
    int initial;
    if (read_state(dir, name, &initial) != 0) {
        errno = EIO;
        return -1;
    }
    log_request(dir, name, "wait", 0, initial, 0);
    for (;;) {
        if (master_gone(next, fd)) {
            errno = EIO;
            return -1;
        }
        int state;
        if (read_state(dir, name, &state) != 0) {
            errno = EIO;
            return -1;
        }
        if ((state ^ initial) & mask) {
            log_request(dir, name, "woke", 0, state, 0);
            return 0;
        }
        /* The slave reports POLLHUP once its master is closed; the timeout
         * is only a safety net for a folder that was replaced meanwhile. */
        struct pollfd fds[2] = {{.fd = watch, .events = POLLIN}, {.fd = fd, .events = 0}};
        if (poll(fds, 2, 500) < 0) {
            errno = errno == EINTR ? EINTR : EIO;
            return -1;
        }
        if (fds[0].revents & POLLIN) {
            char events[4096] __attribute__((aligned(__alignof__(struct inotify_event))));
            while (read(watch, events, sizeof events) > 0) {
            }
        }
    }
}

static int no_wait(void)
{
    const char *value = getenv("ZELVO_MODEMLINES_NO_WAIT");
    return value && *value && strcmp(value, "0") != 0;
}

EXPORT int ioctl(int fd, unsigned long request, ...)
{
    const long long requested = clock_ns(CLOCK_MONOTONIC);
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);

    const ioctl_fn next = real_ioctl();
    if (!next) {
        errno = ENOSYS;
        return -1;
    }
    const int modem = request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
    const int waiting = (request == TIOCMIWAIT || request == TIOCGICOUNT) && !no_wait();
    const char *dir = modem || waiting ? getenv("ZELVO_MODEMLINES_DIR") : NULL;
    char name[64];
    if (!dir || !*dir || !pty_slave_name(fd, name, sizeof name))
        return next(fd, request, arg);

    if (request == TIOCMIWAIT) {
        const int saved = errno;
        const int result = wait_for_change(next, fd, dir, name, (int)(unsigned long)arg);
        if (result == 0) {
            errno = saved;
        } else {
            const int error = errno;
            int state = 0;
            if (read_state(dir, name, &state) != 0)
                state = 0;
            log_request(dir, name, "ended", 0, state, 0);
            errno = error;
        }
        return result;
    }
    if (request == TIOCGICOUNT) {
        if (master_gone(next, fd)) {
            errno = EIO;
            return -1;
        }
        if (!arg) {
            errno = EFAULT;
            return -1;
        }
        memset(arg, 0, sizeof(struct serial_icounter_struct));
        return 0;
    }

    /* Ask the kernel first: a slave whose master is gone answers EIO, and a
     * test needs that to see a device that went away. ENOTTY is the usual
     * "no modem lines here" of a live pseudo-terminal. */
    const int saved = errno;
    int probe = 0;
    if (next(fd, TIOCMGET, &probe) != 0 && errno != ENOTTY && errno != EINVAL)
        return -1;
    const int result = emulate(dir, name, request, (int *)arg, requested);
    if (result == 0)
        errno = saved; /* a successful call leaves errno as it found it */
    return result;
}

/* The log of opens (see the top). Written with the next open() in the chain,
 * never through these wrappers. */
typedef int (*open_fn)(const char *, int, ...);
typedef int (*openat_fn)(int, const char *, int, ...);

static void log_open(open_fn next, const char *path)
{
    const char *dir = getenv("ZELVO_MODEMLINES_DIR");
    if (!dir || !*dir || !path || strncmp(path, "/dev/", 5) != 0)
        return;
    const int saved = errno;
    char entry[PATH_MAX + 96];
    const int size = snprintf(entry, sizeof entry, "t=%lld pid=%ld path=%s\n", clock_ns(CLOCK_MONOTONIC),
                              (long)getpid(), path);
    char log[PATH_MAX];
    snprintf(log, sizeof log, "%s/opens.log", dir);
    const int fd = next(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
        if (size > 0 && (size_t)size < sizeof entry)
            (void)write_all(fd, entry, (size_t)size);
        close(fd);
    }
    errno = saved;
}

static open_fn next_open(void)
{
    static open_fn next;
    if (!next)
        next = (open_fn)dlsym(RTLD_NEXT, "open");
    return next;
}

static mode_t mode_argument(int flags, va_list args)
{
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, mode_t) : 0;
}

#define ZELVO_OPEN(name)                                                                                    \
    EXPORT int name(const char *path, int flags, ...)                                                      \
    {                                                                                                       \
        va_list args;                                                                                       \
        va_start(args, flags);                                                                              \
        const mode_t mode = mode_argument(flags, args);                                                     \
        va_end(args);                                                                                       \
        static open_fn next;                                                                                \
        if (!next)                                                                                          \
            next = (open_fn)dlsym(RTLD_NEXT, #name);                                                        \
        log_open(next_open(), path);                                                                        \
        return next(path, flags, mode);                                                                     \
    }
#define ZELVO_OPENAT(name)                                                                                  \
    EXPORT int name(int at, const char *path, int flags, ...)                                              \
    {                                                                                                       \
        va_list args;                                                                                       \
        va_start(args, flags);                                                                              \
        const mode_t mode = mode_argument(flags, args);                                                     \
        va_end(args);                                                                                       \
        static openat_fn next;                                                                              \
        if (!next)                                                                                          \
            next = (openat_fn)dlsym(RTLD_NEXT, #name);                                                      \
        log_open(next_open(), path);                                                                        \
        return next(at, path, flags, mode);                                                                 \
    }

ZELVO_OPEN(open)
ZELVO_OPEN(open64)
ZELVO_OPENAT(openat)
ZELVO_OPENAT(openat64)

/* The forms _FORTIFY_SOURCE calls: no mode. */
EXPORT int __open_2(const char *path, int flags)
{
    return open(path, flags);
}

EXPORT int __open64_2(const char *path, int flags)
{
    return open64(path, flags);
}
