#include "core/appinfo.h"
#include "core/headlessstation.h"
#include "core/keyingengine.h"
#include "core/mqttstation.h"
#include "core/rigctlkeying.h"
#include "core/timeoutwarning.h"
#include "core/timeonairlog.h"
#include "core/storedportmappings.h"
#include "ui/desktopadapters.h"
#include "platform/desktop/canberrasoundalert.h"
#include "ui/mainwindow/zelvofootswitch2.h"
#include "platform/process/fatalsignalrelease.h"
#include "platform/storage/qsettingsstore.h"
#include "platform/process/singleinstance.h"
#include "platform/serial/systemserialports.h"
#include "platform/process/terminationsignals.h"

#include <QApplication>
#include <QTextStream>

#include <cstdio>
#include <cstring>
#include <optional>

namespace {

const char usage[] =
    "Usage: zelvo-footswitch2 [--no-window | --help | --version]\n"
    "Mirrors a footswitch on one serial port onto RTS or DTR of another, where a\n"
    "relay keys a transmitter.\n"
    "\n"
    "  --no-window  run without a window: each change is a line on standard\n"
    "               output (time, state, why); SIGTERM or SIGINT ends it with\n"
    "               the output released. Uses the same settings file, which\n"
    "               must name the ports (\"ComPort\", \"ComPort2\").\n"
    "  --help       show this text\n"
    "  --version    show the version\n"
    "\n"
    "Without an option the program opens its window.\n";

bool hasOption(int argc, char *argv[], const char *option)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], option) == 0)
            return true;
    }
    return false;
}

// Hands over to a copy that runs already, and says with what status this one
// ends; nothing when this one is the copy that runs.
std::optional<int> handOverToRunningCopy(QCoreApplication &app, SingleInstance &instance)
{
    if (instance.claim())
        return std::nullopt;
    QObject::connect(&instance, &SingleInstance::handedOver, &app, &QCoreApplication::exit);
    instance.handOver();
    return app.exec();
}

// The same engine and settings as the window, and the same one-program lock.
int runWithoutWindow(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    SingleInstance instance(QSettingsStore::defaultFileName());
    if (const std::optional<int> status = handOverToRunningCopy(app, instance))
        return *status;
    QSettingsStore settings;
    StoredPortMappings mappings(settings);
    SystemSerialPorts ports(mappings);
    KeyingEngine engine(ports);
    TimeOnAirLog airLog;
    airLog.follow(engine);
    QTextStream out(stdout);
    HeadlessStation station(engine, settings, out);
    RigctlKeying rigctl(engine, settings);
    QObject::connect(&rigctl, &RigctlKeying::failed, &station,
                     [&station](const QString &message) { station.write(QStringLiteral("rigctl-failed ") + message); });
    MqttStation mqtt(engine, settings, &airLog);
    QObject::connect(&mqtt, &MqttStation::failed, &station,
                     [&station](const QString &message) { station.write(QStringLiteral("mqtt-failed ") + message); });
    // An operating position without a screen may still have a speaker.
    CanberraSoundAlert sound(AppInfo::title());
    TimeoutWarning warning(sound);
    warning.follow(engine);
    station.showTimeoutWarning(warning);
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &app, [&station, &app] {
        station.stop();
        app.quit();
    });
    if (!station.start())
        return 1;
    const int status = app.exec();
    station.stop();
    engine.finishShutdown();
    // Released first, then the claim withdrawn and "offline" said.
    mqtt.finish(ClosingConnections::BoundMs);
    ports.finishClosing(ClosingConnections::BoundMs);
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    // Before any port opens: a crash while keyed must still release the relay.
    FatalSignalRelease::install();

    if (hasOption(argc, argv, "--help") || hasOption(argc, argv, "-h")) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (hasOption(argc, argv, "--version")) {
        std::printf("zelvo-footswitch2 %d.%d.%d\n", AppInfo::versionMajor, AppInfo::versionMinor,
                    AppInfo::versionRevision);
        return 0;
    }
    if (hasOption(argc, argv, "--no-window"))
        return runWithoutWindow(argc, argv);

    // Window positions and stacking work only through X11: on a Wayland
    // desktop, run under XWayland unless the user chose otherwise. Without
    // an X server (no XWayland) Qt goes on to the next platform in the list
    // rather than give up, and the compositor places the window.
    const bool choosePlatform = qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (choosePlatform)
        qputenv("QT_QPA_PLATFORM", "xcb;wayland");

    QApplication app(argc, argv);

    // Programs started from here (help viewer, system tools) choose their own.
    if (choosePlatform)
        qunsetenv("QT_QPA_PLATFORM");

    // Before anything reads or writes a setting or a port: a second copy
    // would fight the first over both.
    SingleInstance instance(QSettingsStore::defaultFileName());
    if (const std::optional<int> status = handOverToRunningCopy(app, instance))
        return *status;

    QSettingsStore settings;
    StoredPortMappings mappings(settings);
    SystemSerialPorts ports(mappings);
    DesktopAdapters desktop(AppInfo::title());

    KeyingEngine engine(ports);
    TimeOnAirLog airLog;
    airLog.follow(engine);
    PlatformServices services = desktop.services(settings, ports);
    services.mappings = &mappings;
    ZelvoFootswitch2 window(services, engine);
    RigctlKeying rigctl(engine, settings);
    MqttStation mqtt(engine, settings, &airLog);
    // Queued: told from inside the engine's configure().
    const auto showMessage = [&services](const QString &message) { services.messages->show(message); };
    QObject::connect(&rigctl, &RigctlKeying::failed, &window, showMessage, Qt::QueuedConnection);
    QObject::connect(&mqtt, &MqttStation::failed, &window, showMessage, Qt::QueuedConnection);
    window.setTimeOnAirLog(&airLog);
    CanberraSoundAlert sound(AppInfo::title());
    TimeoutWarning warning(sound);
    warning.follow(engine);
    QObject::connect(&warning, &TimeoutWarning::countdownChanged, &window, &ZelvoFootswitch2::showTimeoutCountdown);

    // A kill, Ctrl+C or a lost terminal ends the program as its close box does.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &window, &ZelvoFootswitch2::close);

    // A later start asks for the window instead of running.
    QObject::connect(&instance, &SingleInstance::raiseRequested, &window, [&window] {
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
        window.show();
        window.raise();
        window.activateWindow();
    });

    window.show();
    const int result = app.exec();
    // Outputs in sequence release in order, with their tails.
    engine.finishShutdown();
    mqtt.finish(ClosingConnections::BoundMs);
    // A port closed as the window went has its release on the way; let it
    // reach a remote relay before the program ends.
    ports.finishClosing(ClosingConnections::BoundMs);
    return result;
}
