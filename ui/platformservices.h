#pragma once

class SettingsStore;
class SerialPortFactory;
class Messages;
class WindowStacking;
class HelpViewer;
class RegistryReader;
class FileProbe;
class ProgramLauncher;
class TaskbarPresence;
class SerialDeviceCatalog;
class StoredPortMappings;

// The operating system as the windows see it: each a small interface, real
// in the program and fake in the tests. The windows do not own them.
struct PlatformServices
{
    SettingsStore *settings = nullptr;
    SerialPortFactory *ports = nullptr;
    Messages *messages = nullptr;
    WindowStacking *stacking = nullptr;
    HelpViewer *help = nullptr;
    RegistryReader *registry = nullptr;
    FileProbe *files = nullptr;
    ProgramLauncher *launcher = nullptr;
    TaskbarPresence *taskbar = nullptr;
    SerialDeviceCatalog *devices = nullptr;
    // What the ports' numbers mean, for the Settings window's entries not
    // saved yet; none: the wiring assistant opens the stored ones.
    StoredPortMappings *mappings = nullptr;
};
