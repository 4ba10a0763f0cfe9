#pragma once

#include "platform/desktop/desktophelpviewer.h"
#include "platform/desktop/nativetaskbarpresence.h"
#include "platform/desktop/nativewindowstacking.h"
#include "platform/desktop/qtmessages.h"
#include "platform/process/detachedprogramlauncher.h"
#include "platform/process/nativefileprobe.h"
#include "platform/process/nativeregistryreader.h"
#include "platform/serial/qserialdevicecatalog.h"
#include "ui/platformservices.h"

// The desktop's real adapters for the windows, built together, so that the
// program and the benchmark that measures it give the window the same ones.
struct DesktopAdapters
{
    explicit DesktopAdapters(const QString &caption)
        : messages(caption)
    {
    }

    // The whole set, with the settings and ports the caller owns.
    PlatformServices services(SettingsStore &settings, SerialPortFactory &ports)
    {
        return PlatformServices{
            .settings = &settings,
            .ports = &ports,
            .messages = &messages,
            .stacking = &stacking,
            .help = &help,
            .registry = &registry,
            .files = &files,
            .launcher = &launcher,
            .taskbar = &taskbar,
            .devices = &devices,
        };
    }

    QtMessages messages;
    NativeWindowStacking stacking;
    DesktopHelpViewer help;
    NativeRegistryReader registry;
    NativeFileProbe files;
    DetachedProgramLauncher launcher;
    NativeTaskbarPresence taskbar;
    QSerialDeviceCatalog devices;
};
