#pragma once

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

// Tells of changes of a serial port's input lines (CTS, DSR, DCD, RI) the
// moment the driver sees them, so that the footswitch need not wait for the
// next poll tick. A thread of its own blocks in the driver's wait for a
// line change (TIOCMIWAIT; WaitCommEvent on Windows) and, after each,
// emits linesChanged() on the thread that owns this object. It carries no
// line values: the owner reads the lines itself, as its poll does. Changes
// that come faster than the owner's thread takes them arrive as one signal.
//
// The port's descriptor stays the owner's: stop() (or the destructor) must
// run before the descriptor is closed. When the device goes away the
// thread ends by itself, without a signal; the owner's poll finds out.
class LineChangeWaiter : public QObject
{
    Q_OBJECT

public:
#ifdef Q_OS_WIN
    using Handle = void *; // HANDLE, as QSerialPort::handle() gives it
#else
    using Handle = int;
#endif

    explicit LineChangeWaiter(Handle handle, QObject *parent = nullptr);
    ~LineChangeWaiter() override;

    // Whether the device behind `handle` can report line changes at all
    // (many USB adapters' drivers cannot: then only polling works). Asks
    // the device, not its driver's name.
    static bool supported(Handle handle);

    // Starts the waiting thread; false if it could not be started.
    bool start();
    // Stops the thread and waits for it to end, at once even while it is
    // blocked in the driver. Safe to call when not started.
    void stop();
    bool isRunning() const { return m_thread.joinable(); }

signals:
    void linesChanged();

private:
    void run();
    void notify();

    Handle m_handle;
    std::thread m_thread;
    std::atomic<bool> m_stopping = false;
    std::atomic<bool> m_notifyPending = false;
    std::mutex m_mutex;
    std::condition_variable m_finishedCondition;
    bool m_finished = false; // guarded by m_mutex
#ifdef Q_OS_WIN
    void *m_stopEvent = nullptr;
#endif
};
