#pragma once

#include "core/portsupervisor.h"

#include <QLabel>

// The state line under the form that says how the ports are: for each the
// number, the device in short and its state ("ready", "lost – retry 2"), the
// input above output 1. With outputs keyed in sequence, the outputs' row
// begins with how far the walk is ("Tx 2/3"); the outputs after the first
// are shown in rows of their own (OutputStateRows). A notice (the transmit
// time-out's countdown or its release) takes the input's place while it
// lasts. The whole text, every output with its device in full, is in the
// tooltip.
class PortStatusLine : public QLabel
{
    Q_OBJECT

public:
    struct Port
    {
        QString number;   // "3"
        QString location; // "/dev/ttyUSB0", "rfc2217://host:2217"
        PortSupervisor::State state = PortSupervisor::State::Closed;
        int retries = 0;
    };

    explicit PortStatusLine(QWidget *parent = nullptr);

    void showPorts(const Port &input, const Port &output, const QList<Port> &moreOutputs = {},
                   const QString &walk = {});
    void setNotice(const QString &notice);
    QString notice() const { return m_notice; }

    // "ttyUSB0", "host:2217": enough to recognise it in a narrow window.
    static QString shortDevice(const QString &location);
    static QString stateText(PortSupervisor::State state, int retries);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void refresh();

    QString m_ports;
    QString m_portsInFull;
    QString m_notice;
};
