#include "platform/process/fatalsignalrelease.h"

#include "platform/process/alternatesignalstack.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Kind = SerialPortDevice::CrashRelease::Kind;

constexpr int byteRoom = 64;
// Every signal whose default action dumps core: each ends the program
// without a word to it, keyed or not.
constexpr int fatalSignals[] = {SIGSEGV, SIGBUS,  SIGILL,  SIGFPE,  SIGABRT,
                                SIGQUIT, SIGTRAP, SIGSYS, SIGXCPU, SIGXFSZ};

// The one global state (see the header). The handler may run on any thread,
// even in the middle of arm(): arm() stores the kind last, with release
// order, after clearing it first; the handler loads it first.
struct ArmedSlot
{
    std::atomic<int> kind = int(Kind::None);
    std::atomic<int> descriptor = -1;
    std::atomic<int> byteCount = 0;
    unsigned char bytes[byteRoom] = {};
};
struct ArmedRelease
{
    ArmedSlot outputs[FatalSignalRelease::slotCount];
    std::atomic<bool> installed = false;
};
static_assert(std::atomic<int>::is_always_lock_free);

ArmedRelease armed;

bool isSlot(int slot)
{
    return slot >= 0 && slot < FatalSignalRelease::slotCount;
}

void releaseSlot(const ArmedSlot &armed)
{
    const Kind kind = Kind(armed.kind.load(std::memory_order_acquire));
    const int fd = armed.descriptor.load(std::memory_order_relaxed);
    if (fd < 0)
        return;
    switch (kind) {
    case Kind::None:
        break;
    case Kind::ModemLines: {
        const int lines = TIOCM_RTS | TIOCM_DTR;
        ::ioctl(fd, TIOCMBIC, &lines);
        break;
    }
    case Kind::SocketBytes:
        ::send(fd, armed.bytes, size_t(armed.byteCount.load(std::memory_order_relaxed)),
               MSG_NOSIGNAL | MSG_DONTWAIT);
        break;
    case Kind::SocketShutdown:
        ::shutdown(fd, SHUT_RDWR);
        break;
    }
}

// Every output at once, with no time for tails, but still last first as a
// walk would: the radio or amplifier goes off the air before the relays
// that feed it switch.
void release()
{
    for (int slot = FatalSignalRelease::slotCount - 1; slot >= 0; --slot)
        releaseSlot(armed.outputs[slot]);
}

void onFatalSignal(int signalNumber)
{
    const int savedErrno = errno;
    release();
    errno = savedErrno;
    // SA_RESETHAND has put the default action back. A fault would come again
    // as the instruction is retried, but a raised or sent signal would not:
    // raise it, and it is delivered (blocked until this handler returns) with
    // its default action: the core dump and exit status it always had.
    ::raise(signalNumber);
}

// Registered with atexit(): it runs after the code that called exit() and
// before the objects of the libraries are destroyed.
void releaseAtExit()
{
    release();
}

} // namespace

void FatalSignalRelease::install()
{
    if (armed.installed.exchange(true))
        return;
    // Never destroyed: exit() may be called on any thread, and the main
    // thread needs its stack up to its very end.
    [[maybe_unused]] static const AlternateSignalStack *const mainThreadStack = new AlternateSignalStack;

    struct sigaction action = {};
    action.sa_handler = onFatalSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_ONSTACK | SA_RESETHAND;
    for (int signalNumber : fatalSignals)
        ::sigaction(signalNumber, &action, nullptr);

    std::atexit(releaseAtExit);
}

void FatalSignalRelease::arm(const SerialPortDevice::CrashRelease &release, int slot)
{
    if (!isSlot(slot))
        return;
    ArmedSlot &armed = ::armed.outputs[slot];
    armed.kind.store(int(Kind::None), std::memory_order_release);
    if (release.kind == Kind::None || release.descriptor < 0)
        return;
    Kind kind = release.kind;
    int count = 0;
    if (kind == Kind::SocketBytes) {
        if (release.bytes.size() <= byteRoom) {
            count = int(release.bytes.size());
            std::memcpy(armed.bytes, release.bytes.constData(), size_t(count));
        } else {
            kind = Kind::SocketShutdown;
        }
    }
    armed.byteCount.store(count, std::memory_order_relaxed);
    armed.descriptor.store(release.descriptor, std::memory_order_relaxed);
    armed.kind.store(int(kind), std::memory_order_release);
}

void FatalSignalRelease::disarm(int slot)
{
    if (isSlot(slot))
        armed.outputs[slot].kind.store(int(Kind::None), std::memory_order_release);
}

void FatalSignalRelease::disarmDescriptor(int descriptor)
{
    if (descriptor < 0)
        return;
    for (int slot = 0; slot < slotCount; ++slot) {
        if (armedDescriptor(slot) == descriptor)
            disarm(slot);
    }
}

int FatalSignalRelease::armedDescriptor(int slot)
{
    if (!isSlot(slot))
        return -1;
    const ArmedSlot &armed = ::armed.outputs[slot];
    if (Kind(armed.kind.load(std::memory_order_acquire)) == Kind::None)
        return -1;
    return armed.descriptor.load(std::memory_order_relaxed);
}

#else

void FatalSignalRelease::install()
{
}

void FatalSignalRelease::arm(const SerialPortDevice::CrashRelease &, int)
{
}

void FatalSignalRelease::disarm(int)
{
}

void FatalSignalRelease::disarmDescriptor(int)
{
}

int FatalSignalRelease::armedDescriptor(int)
{
    return -1;
}

#endif
