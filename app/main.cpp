#include "app/relay/zelvofootswitch2.h"
#include "platform/desktophelpviewer.h"
#include "platform/detachedprogramlauncher.h"
#include "platform/nativefileprobe.h"
#include "platform/nativeregistryreader.h"
#include "platform/nativetaskbarpresence.h"
#include "platform/nativewindowstacking.h"
#include "platform/qsettingsstore.h"
#include "platform/qtmessages.h"
#include "platform/systemserialports.h"
#include "platform/terminationsignals.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // Window positions and stacking work only through X11: on a Wayland
    // desktop, run under XWayland unless the user chose otherwise.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");

    QApplication app(argc, argv);

    QSettingsStore settings;
    SystemSerialPorts ports(settings.fileName());
    QtMessages messages;
    NativeWindowStacking stacking;
    DesktopHelpViewer help;
    NativeRegistryReader registry;
    NativeFileProbe files;
    DetachedProgramLauncher launcher;
    NativeTaskbarPresence taskbar;

    ZelvoFootswitch2 window(PlatformServices{
        .settings = &settings,
        .ports = &ports,
        .messages = &messages,
        .stacking = &stacking,
        .help = &help,
        .registry = &registry,
        .files = &files,
        .launcher = &launcher,
        .taskbar = &taskbar,
    });

    // A kill, Ctrl+C or a lost terminal ends the program as its close box does.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &window, &ZelvoFootswitch2::close);

    window.show();
    return app.exec();
}
