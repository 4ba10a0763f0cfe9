#pragma once

#include "ui/mainwindow/zelvofootswitch2.h"
#include "support/fakeplatform.h"
#include "support/fakeradiooutput.h"
#include "ui_zelvofootswitch2.h"

#include <memory>

// A main window over fake platform services. The poll timer is stopped so
// that a test runs each tick itself.
struct MainWindowRig
{
    FakePlatform platform;
    KeyingEngine engine{platform.ports};
    std::unique_ptr<ZelvoFootswitch2> window;

    // One tick per edge: a test that is about debouncing stores its own value.
    MainWindowRig()
    {
        platform.settings.values.insert(QStringLiteral("Footswitch-Debounce"), QStringLiteral("0"));
        // A radio in memory: no window test reaches for Hamlib.
        engine.setRadioMaker([](const RigAddress &) { return std::make_unique<FakeRadioOutput>(); });
    }

    // Creates and shows the window, which runs the first activation, and
    // lets the ports' opens finish.
    ZelvoFootswitch2 &start()
    {
        window = std::make_unique<ZelvoFootswitch2>(platform.services(), engine);
        window->Timer1.stop();
        window->show();
        settle();
        return *window;
    }

    // Delivers the results of opens in the background.
    static void settle()
    {
        for (int i = 0; i < 4; ++i)
            QCoreApplication::processEvents();
    }

    // Settings under which both ports open: input on 1, output on 2.
    void storeWorkingPorts()
    {
        platform.settings.values.insert(QStringLiteral("ComPort"), QStringLiteral("1"));
        platform.settings.values.insert(QStringLiteral("ComPort2"), QStringLiteral("2"));
    }

    Ui::ZelvoFootswitch2 &form() { return window->form(); }
    void tick() { window->Timer1_Timer(); }
    FakeLineState &input() { return *platform.ports.line(window->MSComm1.portNumber()); }
    FakeLineState &output() { return *platform.ports.line(window->MSComm2.portNumber()); }

    // What the About command does to the lines before its window shows.
    void closePorts() { engine.closePorts(); }

    // Activation again, as on the return from the About window.
    void activate()
    {
        window->activation().run();
        settle();
    }
};
