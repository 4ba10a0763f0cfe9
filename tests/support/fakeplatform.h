#pragma once

#include "ui/platformservices.h"
#include "support/fakefileprobe.h"
#include "support/fakehelpviewer.h"
#include "support/fakemessages.h"
#include "support/fakeprogramlauncher.h"
#include "support/fakeregistry.h"
#include "support/fakeserialdevicecatalog.h"
#include "support/fakeserialports.h"
#include "support/fakesettingsstore.h"
#include "support/faketaskbarpresence.h"
#include "support/fakewindowstacking.h"

// Every platform interface as a fake, ready to hand to a window.
struct FakePlatform
{
    FakeSettingsStore settings;
    FakeSerialPorts ports;
    FakeMessages messages;
    FakeWindowStacking stacking;
    FakeHelpViewer help;
    FakeRegistry registry;
    FakeFileProbe files;
    FakeProgramLauncher launcher;
    FakeTaskbarPresence taskbar;
    FakeSerialDeviceCatalog devices;

    PlatformServices services()
    {
        PlatformServices services;
        services.settings = &settings;
        services.ports = &ports;
        services.messages = &messages;
        services.stacking = &stacking;
        services.help = &help;
        services.registry = &registry;
        services.files = &files;
        services.launcher = &launcher;
        services.taskbar = &taskbar;
        services.devices = &devices;
        return services;
    }
};
