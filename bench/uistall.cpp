// User-interface stall benchmark: the real main window over the real serial
// ports, with the input on an absent device and the output on a network
// address whose connects hang (a loopback listener that never accepts and
// whose accept queue is full). A 1 ms timer on the window's thread ticks
// throughout; the longest gap between its ticks is the longest the window
// could not answer the user. Prints the gaps of three phases:
//
//   start  the window shown and activated, the ports opening in the background
//   about  the About command (both ports closed), the About window activated,
//          the main window activated again (the ports opened again)
//   exit   the window closed (settings saved, ports released) and the closed
//          network connections let end, as the program does after its loop
//
// Each phase lasts until its steps are done and then --settle-ms more (3000
// by default: past the network port's 2 s open time-out and its first
// retry). Every one of the nine ports is mapped in a settings file in a
// temporary folder: no real settings and no machine serial port are touched.
//
//   QT_QPA_PLATFORM=offscreen build/bench/bench_uistall [--settle-ms N]

#include "core/appinfo.h"
#include "core/keyingengine.h"
#include "core/relaysettings.h"
#include "core/stationsettings.h"
#include "core/storedportmappings.h"
#include "ui/desktopadapters.h"
#include "platform/serial/systemserialports.h"
#include "platform/storage/qsettingsstore.h"
#include "ui/mainwindow/zelvofootswitch2.h"
#include "ui_zelvofootswitch2.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A loopback port where a connect neither completes nor fails: listening
// with a backlog of 0, never accepting, its queue filled by connections of
// our own. The kernel then drops further SYNs, and a client keeps resending
// them until its own time-out.
class HangingListener
{
public:
    HangingListener() = default;
    HangingListener(const HangingListener &) = delete;
    HangingListener &operator=(const HangingListener &) = delete;
    ~HangingListener()
    {
        for (const int fd : m_fillers)
            ::close(fd);
        if (m_listener >= 0)
            ::close(m_listener);
    }

    // False, with the reason on standard error, when no such port could be made.
    bool start()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
            || ::listen(m_listener, 0) != 0
            || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
            std::fprintf(stderr, "cannot listen on loopback: %s\n", std::strerror(errno));
            return false;
        }
        m_port = ntohs(address.sin_port);
        // Connect until one connect hangs: that one shows the queue full.
        for (int attempt = 0; attempt < 8; ++attempt) {
            const int fd = connectWithin(address, 300);
            if (fd < 0) {
                std::printf("loopback port %d: accept queue full after %d connections; a further connect "
                            "did not complete within 300 ms\n",
                            m_port, int(m_fillers.size()));
                return true;
            }
            m_fillers.push_back(fd);
        }
        std::fprintf(stderr, "connects to loopback port %d still complete after %d connections\n", m_port,
                     int(m_fillers.size()));
        return false;
    }

    int port() const { return m_port; }

private:
    // The connected socket, or -1 when the connect did not complete in time.
    static int connectWithin(const sockaddr_in &address, int ms)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return -1;
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
            return fd;
        pollfd waiting{fd, POLLOUT, 0};
        int error = 0;
        socklen_t length = sizeof error;
        if (errno == EINPROGRESS && ::poll(&waiting, 1, ms) == 1
            && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0)
            return fd;
        ::close(fd);
        return -1;
    }

    int m_listener = -1;
    int m_port = 0;
    std::vector<int> m_fillers;
};

// The gaps between ticks of a 1 ms timer, by phase.
class TickGaps : public QObject
{
public:
    explicit TickGaps(QObject *parent = nullptr)
        : QObject(parent)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        connect(&m_timer, &QTimer::timeout, this, &TickGaps::tick);
    }

    void start()
    {
        m_clock.start();
        m_last = 0;
        m_timer.start();
    }
    // Gaps that end from now on count for `phase`.
    void setPhase(const char *phase)
    {
        m_phase = phase;
        m_order.push_back(phase);
    }

    void print() const
    {
        std::printf("%-6s %7s %7s %7s %7s %8s\n", "phase", "ticks", "p50 ms", "p99 ms", "max ms", "> 50 ms");
        for (const char *phase : m_order) {
            const auto found = m_gaps.find(phase);
            if (found == m_gaps.end())
                continue;
            std::vector<double> gaps = found->second;
            std::sort(gaps.begin(), gaps.end());
            const auto rank = [&gaps](double p) {
                const auto index = std::size_t(std::ceil(p / 100.0 * double(gaps.size())));
                return gaps[std::clamp<std::size_t>(index, 1, gaps.size()) - 1];
            };
            const auto over = std::count_if(gaps.begin(), gaps.end(), [](double gap) { return gap > 50.0; });
            std::printf("%-6s %7zu %7.1f %7.1f %7.1f %8ld\n", phase, gaps.size(), rank(50), rank(99), gaps.back(),
                        long(over));
        }
    }

private:
    void tick()
    {
        const qint64 now = m_clock.nsecsElapsed();
        m_gaps[m_phase].push_back(double(now - m_last) / 1e6);
        m_last = now;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    const char *m_phase = "setup";
    std::vector<const char *> m_order;
    std::map<const char *, std::vector<double>> m_gaps;
};

// Runs the event loop (ticks included) until `done` holds or `ms` pass.
bool runUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) {
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

void runFor(int ms)
{
    runUntil([] { return false; }, ms);
}

// Activates `window` and waits until it has the focus; says so when it never
// does. Open messages (the input port is not available) are answered first,
// as the user would before going on.
void activate(QWidget *window)
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<QMessageBox *>(widget) && widget->isVisible())
            widget->close();
    }
    // It may pass the focus on at once (a message of the activation it runs).
    bool focused = QGuiApplication::focusWindow() == window->windowHandle();
    const QMetaObject::Connection watch = QObject::connect(
        qApp, &QGuiApplication::focusWindowChanged, window,
        [window, &focused](QWindow *focus) { focused = focused || focus == window->windowHandle(); });
    window->activateWindow();
    const bool done = runUntil([&focused] { return focused; }, 5000);
    QObject::disconnect(watch);
    if (!done)
        std::printf("note: %s did not get the focus within 5 s (it is with %s)\n", qPrintable(window->objectName()),
                    QGuiApplication::focusWindow() ? qPrintable(QGuiApplication::focusWindow()->title())
                                                   : "no window");
}

void storeSettings(QSettingsStore &settings, const QTemporaryDir &dir, int hangingPort)
{
    settings.save(RelaySettings::comPortIn, QStringLiteral("1"));
    settings.save(RelaySettings::comPortOut, QStringLiteral("2"));
    for (int n = StationSettings::firstPort; n <= StationSettings::lastPort; ++n) {
        const QString location = n == 2 ? QStringLiteral("rfc2217://127.0.0.1:%1").arg(hangingPort)
                                        : dir.filePath(QStringLiteral("absent-com%1").arg(n));
        settings.saveGroupValue(StationSettings::portsGroup, StationSettings::portKey(n), location);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int settleMs = 3000;
    const QStringList arguments = app.arguments();
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--settle-ms")); at > 0 && at + 1 < arguments.size())
        settleMs = arguments.at(at + 1).toInt();

    HangingListener listener;
    if (!listener.start())
        return 1;
    QTemporaryDir dir;
    QSettingsStore settings(dir.filePath(QStringLiteral("Zelvo-Footswitch2.conf")));
    storeSettings(settings, dir, listener.port());

    StoredPortMappings mappings(settings);
    SystemSerialPorts ports(mappings);
    DesktopAdapters desktop(AppInfo::title());
    KeyingEngine engine(ports);
    ZelvoFootswitch2 window(desktop.services(settings, ports), engine);
    window.setObjectName(QStringLiteral("main window"));

    TickGaps gaps;
    double closeMs = 0;
    gaps.start();
    // The steps run inside the application's event loop, as the program's
    // do: closing the window ends that loop.
    QTimer::singleShot(100, &window, [&] {
        gaps.setPhase("start");
        window.show();
        // The input's failure shows a message; the user answers it.
        runUntil([&engine] { return engine.inputSupervisor().state() == PortSupervisor::State::NotAvailable; }, 5000);
        runFor(50);
        activate(&window);
        runFor(settleMs);

        gaps.setPhase("about");
        window.form().mnuAbout->trigger();
        if (QWidget *about = window.aboutWindow()) {
            about->setObjectName(QStringLiteral("About window"));
            activate(about);
        }
        activate(&window);
        runFor(settleMs);

        gaps.setPhase("exit");
        QElapsedTimer step;
        step.start();
        window.close();
        closeMs = double(step.nsecsElapsed()) / 1e6;
    });
    app.exec();
    // What the program does after its loop; then the first tick after it
    // ends the last gap.
    QElapsedTimer step;
    step.start();
    ports.finishClosing(ClosingConnections::BoundMs);
    const double finishMs = double(step.nsecsElapsed()) / 1e6;
    runFor(20);

    std::printf("settle %d ms; input %s, output %s\n", settleMs, qPrintable(mappings.mapping(1).location),
                qPrintable(mappings.mapping(2).location));
    gaps.print();
    std::printf("exit steps: close (settings saved, ports released) %.1f ms, finishClosing %.1f ms\n", closeMs,
                finishMs);
    return 0;
}
