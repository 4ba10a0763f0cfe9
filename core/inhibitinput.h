#pragma once

#include "core/portsupervisor.h"
#include "core/sequencesettings.h"
#include "core/serialline.h"

#include <QObject>

#include <memory>

// The transmit inhibit: a modem line of an input port, wired to an
// amplifier's fault output or a second operator's interlock. On the
// footswitch's own port it is read there; on another port it keeps that
// port open itself, fed like the footswitch, and tries it again when lost.
class InhibitInput : public QObject
{
    Q_OBJECT

public:
    explicit InhibitInput(SerialPortFactory &ports, QObject *parent = nullptr);

    void configure(const SequenceSettings::Inhibit &settings);
    bool isEnabled() const { return m_settings.enabled; }
    // Opens its own port when it is not the footswitch's.
    void open(const QString &footswitchPort);
    void close();
    // Whether transmitting is inhibited now, read from its own port or from
    // the footswitch's. An interlock that cannot be read may be holding off
    // a faulty amplifier: unknown counts as inhibited. Closed on purpose
    // (another window, the end), nothing keys anyway: not inhibited.
    bool read(SerialLine &footswitchLine, const PortSupervisor &footswitchSupervisor);

signals:
    // Its own port reported a change of its lines, or came back.
    void changed();
    void failed(const QString &message);

private:
    SerialPortFactory &m_ports;
    SequenceSettings::Inhibit m_settings;
    std::unique_ptr<SerialLine> m_line;
    std::unique_ptr<PortSupervisor> m_supervisor;
};
