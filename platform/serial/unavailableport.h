#pragma once

#include "platform/serial/serialportdevice.h"

// A port whose mapping was refused before anything was opened: every open
// fails with the reason, so the port is reported like any other that is not
// available, and nothing else (no default device) is tried in its place.
class UnavailablePort : public SerialPortDevice
{
public:
    explicit UnavailablePort(const QString &reason)
        : m_reason(reason)
    {
    }

    using SerialPortDevice::open;
    bool open(const OpenLevels &levels) override
    {
        (void)levels;
        return false;
    }
    void close() override {}
    bool setRts(bool on) override
    {
        (void)on;
        return false;
    }
    bool setDtr(bool on) override
    {
        (void)on;
        return false;
    }
    bool readLine(InputLine line, bool *asserted) override
    {
        (void)line;
        (void)asserted;
        return false;
    }
    Failure failure() const override { return Failure::OpenFailed; }
    QString errorString() const override { return m_reason; }

private:
    QString m_reason;
};
