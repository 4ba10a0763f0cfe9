#pragma once

#include "ui/platformservices.h"

#include <QString>

// Finds the platform's system information tool through the registry and
// starts it, or tells the user that it cannot. Uses the registry, file
// probe, program launcher and messages of the platform.
class SysInfoLauncher
{
public:
    static QString unavailableMessage() { return QStringLiteral("System Information Is Unavailable At This Time"); }

    explicit SysInfoLauncher(const PlatformServices &platform);

    // Tries the tool's own path first, then its folder; every failure ends
    // in the one message.
    void StartSysInfo();

    // Reads value `SubKeyRef` of key `KeyName` under `KeyRoot` into
    // `KeyVal`: text values as text, 32-bit values as "&h" followed by what
    // `KeyVal` held and the upper-case hexadecimal digits, and other types
    // not at all (true, `KeyVal` unchanged). False with `KeyVal` empty when
    // the key or value cannot be read.
    bool GetKeyValue(quint32 KeyRoot, const QString &KeyName, const QString &SubKeyRef, QString &KeyVal);

private:
    PlatformServices m_platform;
};
