#include "platform/serial/linechangewaiter.h"

#include "platform/process/alternatesignalstack.h"

#include <chrono>
#include <system_error>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <sys/ioctl.h>
#ifdef Q_OS_LINUX
#include <linux/serial.h>
#endif
#endif

LineChangeWaiter::LineChangeWaiter(Handle handle, QObject *parent)
    : QObject(parent)
    , m_handle(handle)
{
}

LineChangeWaiter::~LineChangeWaiter()
{
    stop();
}

// Runs on the waiting thread. However many changes come before the owner's
// thread gets round to it, one queued call is enough: the owner reads the
// lines as they are by then.
void LineChangeWaiter::notify()
{
    if (m_notifyPending.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_notifyPending = false;
            emit linesChanged();
        },
        Qt::QueuedConnection);
}

#ifdef Q_OS_WIN

bool LineChangeWaiter::supported(Handle handle)
{
    DWORD status = 0;
    return ::GetCommModemStatus(handle, &status) != 0;
}

bool LineChangeWaiter::start()
{
    if (m_thread.joinable())
        return true;
    m_stopEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!m_stopEvent)
        return false;
    m_stopping = false;
    m_finished = false;
    m_thread = std::thread(&LineChangeWaiter::run, this);
    return true;
}

void LineChangeWaiter::run()
{
    constexpr DWORD lineEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent && ::SetCommMask(m_handle, lineEvents)) {
        while (!m_stopping) {
            DWORD events = 0;
            DWORD unused = 0;
            ::ResetEvent(overlapped.hEvent);
            if (!::WaitCommEvent(m_handle, &events, &overlapped)) {
                if (::GetLastError() != ERROR_IO_PENDING)
                    break;
                const HANDLE handles[2] = {overlapped.hEvent, m_stopEvent};
                if (::WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0) {
                    ::CancelIoEx(m_handle, &overlapped);
                    ::GetOverlappedResult(m_handle, &overlapped, &unused, TRUE);
                    break;
                }
                if (!::GetOverlappedResult(m_handle, &overlapped, &unused, FALSE))
                    break; // the device is gone
            }
            if (events & lineEvents)
                notify();
        }
    }
    if (overlapped.hEvent)
        ::CloseHandle(overlapped.hEvent);
    std::lock_guard lock(m_mutex);
    m_finished = true;
}

void LineChangeWaiter::stop()
{
    if (!m_thread.joinable())
        return;
    m_stopping = true;
    ::SetEvent(m_stopEvent);
    m_thread.join();
    ::CloseHandle(m_stopEvent);
    m_stopEvent = nullptr;
}

#else

namespace {

constexpr int lineMask = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG;

// Sent to the waiting thread to get it out of the driver's wait. A real-time
// signal nothing else in the program uses; its handler does nothing, the
// interruption (EINTR) is all that is wanted.
int wakeSignal()
{
    return SIGRTMAX - 2;
}

void ignoreWake(int)
{
}

// At most 15 characters: the kernel's limit for a thread's name.
constexpr char threadName[] = "zelvo-linewait";

} // namespace

bool LineChangeWaiter::supported(Handle handle)
{
#if defined(Q_OS_LINUX) && defined(TIOCGICOUNT)
    // A driver that counts line changes is one that can wait for them;
    // cp210x and pseudo-terminals refuse the count as they refuse the wait.
    serial_icounter_struct counts = {};
    return ::ioctl(handle, TIOCGICOUNT, &counts) == 0;
#else
    (void)handle;
    return false;
#endif
}

bool LineChangeWaiter::start()
{
    if (m_thread.joinable())
        return true;
    // Without SA_RESTART, so that the signal ends the blocked ioctl.
    struct sigaction action = {};
    action.sa_handler = ignoreWake;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    if (::sigaction(wakeSignal(), &action, nullptr) != 0)
        return false;
    m_stopping = false;
    m_finished = false;
    try {
        m_thread = std::thread(&LineChangeWaiter::run, this);
    } catch (const std::system_error &) {
        return false;
    }
    return true;
}

void LineChangeWaiter::run()
{
    // A crash on this thread must still release the outputs.
    const AlternateSignalStack signalStack;
#ifdef Q_OS_LINUX
    // Named so that ps -L, top -H and a debugger tell it from Qt's threads;
    // the name also lets a test see that no waiter outlives its port.
    ::pthread_setname_np(::pthread_self(), threadName);
#endif
    // A thread inherits its creator's signal mask: make sure stop() can reach it.
    sigset_t wake;
    sigemptyset(&wake);
    sigaddset(&wake, wakeSignal());
    ::pthread_sigmask(SIG_UNBLOCK, &wake, nullptr);
#ifdef TIOCMIWAIT
    while (!m_stopping) {
        if (::ioctl(m_handle, TIOCMIWAIT, lineMask) == 0)
            notify();
        else if (errno != EINTR)
            break; // EIO: the device is gone
    }
#endif
    {
        std::lock_guard lock(m_mutex);
        m_finished = true;
    }
    m_finishedCondition.notify_all();
}

void LineChangeWaiter::stop()
{
    if (!m_thread.joinable())
        return;
    m_stopping = true;
    // A signal that lands just before the thread enters the ioctl interrupts
    // nothing: send it again until the thread has left.
    const pthread_t thread = m_thread.native_handle();
    {
        std::unique_lock lock(m_mutex);
        while (!m_finished) {
            ::pthread_kill(thread, wakeSignal());
            m_finishedCondition.wait_for(lock, std::chrono::milliseconds(2));
        }
    }
    m_thread.join();
}

#endif
