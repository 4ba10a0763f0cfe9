#pragma once

#include "ui/mainwindow/zelvofootswitch2.h"
#include "support/fakeplatform.h"
#include "ui_zelvofootswitch2.h"

#include <memory>

// A main window over fake platform services. The poll timer is stopped so
// that a test runs each tick itself.
struct MainWindowRig
{
    FakePlatform platform;
    std::unique_ptr<ZelvoFootswitch2> window;

    // One tick per edge: a test that is about debouncing stores its own value.
    MainWindowRig() { platform.settings.values.insert(QStringLiteral("Footswitch-Debounce"), QStringLiteral("0")); }

    // Creates and shows the window, which runs the first activation.
    ZelvoFootswitch2 &start()
    {
        window = std::make_unique<ZelvoFootswitch2>(platform.services());
        window->Timer1.stop();
        window->show();
        return *window;
    }

    // Settings under which both ports open: input on 1, output on 2.
    void storeWorkingPorts()
    {
        platform.settings.values.insert(QStringLiteral("ComPort"), QStringLiteral("1"));
        platform.settings.values.insert(QStringLiteral("ComPort2"), QStringLiteral("2"));
    }

    Ui::ZelvoFootswitch2 &form() { return window->form(); }
    void tick() { window->relay().Timer1_Timer(); }
    FakeLineState &input() { return *platform.ports.line(window->MSComm1.portNumber()); }
    FakeLineState &output() { return *platform.ports.line(window->MSComm2.portNumber()); }

    // What the About command does to the lines before its window shows.
    void closePorts()
    {
        window->MSComm1.close();
        window->MSComm2.close();
    }
};
