#include "app/relay/zelvofootswitch2.h"
#include "platform/nativewindowstacking.h"
#include "platform/qsettingsstore.h"
#include "platform/qtmessages.h"
#include "platform/systemserialports.h"

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

    ZelvoFootswitch2 window(PlatformServices{
        .settings = &settings,
        .ports = &ports,
        .messages = &messages,
        .stacking = &stacking,
    });
    window.show();
    return app.exec();
}
