#pragma once

#include "platform/serial/serialportdevice.h"

#include <QSerialPort>

#include <memory>

class LineChangeWaiter;

// A serial port of this machine (or a pseudo-terminal), through QSerialPort.
class LocalSerialPort : public SerialPortDevice
{
public:
    explicit LocalSerialPort(const QString &devicePath);
    ~LocalSerialPort() override;

    using SerialPortDevice::open;
    bool open(const OpenLevels &levels) override;
    void close() override;
    bool setRts(bool on) override;
    bool setDtr(bool on) override;
    bool readLine(InputLine line, bool *asserted) override;

    // True while open on a device whose driver reports line changes. Then,
    // while a handler is set, a waiting thread of its own makes the handler
    // run on this object's thread soon after each change.
    bool reportsLineChanges() const override;
    void setLineChangeHandler(std::function<void()> handler) override;

    // While open, the port's own descriptor: dropping RTS and DTR by ioctl
    // needs nothing else.
    CrashRelease crashRelease() const override;

    Failure failure() const override { return m_failure; }
    QString errorString() const override { return m_errorString; }

    QString devicePath() const { return m_devicePath; }

private:
    void updateLineChangeWaiter();
    bool fail(Failure failure);
    // After a write: the line reads back at the level set.
    bool readsBack(QSerialPort::PinoutSignal line, bool on, const char *name);
    Failure classifyLineError() const;

    QString m_devicePath;
    QSerialPort m_port;
    std::function<void()> m_lineChangeHandler;
    bool m_reportsLineChanges = false;
    // Declared after m_port: it must be gone before the descriptor closes.
    std::unique_ptr<LineChangeWaiter> m_lineChangeWaiter;
    Failure m_failure = Failure::None;
    QString m_errorString;
};
