#pragma once

#include "platform/serialportdevice.h"

#include <QSerialPort>

// A serial port of this machine (or a pseudo-terminal), through QSerialPort.
class LocalSerialPort : public SerialPortDevice
{
public:
    explicit LocalSerialPort(const QString &devicePath);

    bool open(bool rts) override;
    void close() override;
    bool setRts(bool on) override;
    bool setDtr(bool on) override;
    bool readLine(InputLine line, bool *asserted) override;

    Failure failure() const override { return m_failure; }
    QString errorString() const override { return m_errorString; }

    QString devicePath() const { return m_devicePath; }

private:
    bool fail(Failure failure);
    Failure classifyLineError() const;

    QString m_devicePath;
    QSerialPort m_port;
    Failure m_failure = Failure::None;
    QString m_errorString;
};
