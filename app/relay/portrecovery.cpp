#include "app/relay/portrecovery.h"

#include "app/relay/portmessages.h"
#include "app/relay/relaysettings.h"
#include "app/relay/stationsettings.h"
#include "app/relay/serialline.h"
#include "app/relay/zelvofootswitch2.h"
#include "platform/fatalsignalrelease.h"
#include "platform/messages.h"
#include "ui_zelvofootswitch2.h"

PortRecovery::PortRecovery(ZelvoFootswitch2 &window)
    : m_window(window)
    , m_input(window.MSComm1)
    , m_output(window.MSComm2)
{
    connect(&m_input, &PortSupervisor::stateChanged, this, &PortRecovery::changed);
    connect(&m_output, &PortSupervisor::stateChanged, this, &PortRecovery::changed);
    connect(&m_input, &PortSupervisor::reopened, this, &PortRecovery::bringInputBack);
    connect(&m_output, &PortSupervisor::reopened, this, &PortRecovery::bringOutputBack);
    // Queued: a failure is found inside a poll tick or a trigger's action,
    // and the message must not open inside it.
    connect(&m_input, &PortSupervisor::newFailure, this, [this] {
        m_window.platform().messages->show(
            PortMessages::inputNotAvailable(m_window.ComPortIn, m_window.MSComm1.location()));
    }, Qt::QueuedConnection);
    connect(&m_output, &PortSupervisor::newFailure, this, [this] {
        m_window.platform().messages->show(
            PortMessages::outputNotAvailable(m_window.ComPortOut, m_window.MSComm2.location()));
    }, Qt::QueuedConnection);
}

void PortRecovery::inputLost()
{
    m_input.lost();
}

void PortRecovery::outputLost()
{
    // Whatever was keyed is not any more: the next open brings the line up
    // released, and the window must not claim otherwise meanwhile.
    FatalSignalRelease::disarm();
    m_output.lost();
    // Closed now: only recorded, for the next open.
    m_window.MSComm2.setRtsEnabled(false);
    if (m_window.relay().options().relayLine == StationSettings::RelayLine::Dtr)
        m_window.MSComm2.setDtrEnabled(false);
}

void PortRecovery::stop()
{
    // The descriptor the crash handler would write to is about to close.
    FatalSignalRelease::disarm();
    m_input.stop();
    m_output.stop();
}

void PortRecovery::bringInputBack()
{
    try {
        m_window.MSComm1.setRtsEnabled(true);
        m_window.MSComm1.setDtrEnabled(true);
    } catch (const SerialLineError &) {
        // The next poll finds out whether the port is really usable.
    }
    emit inputReopened();
    // Activation stopped at the input: the output was never tried.
    SerialLine &output = m_window.MSComm2;
    if (m_output.state() != PortSupervisor::State::Closed || output.isOpen() || output.isOpening())
        return;
    const std::optional<qint16> number = RelaySettings::portNumber(m_window.ComPortOut);
    if (!number)
        return;
    output.select(*number);
    output.setRtsEnabled(false);
    if (m_window.relay().options().relayLine == StationSettings::RelayLine::Dtr)
        output.setDtrEnabled(false);
    output.setHeartbeat(StationSettings::heartbeatEnabled(*m_window.platform().settings, *number));
    m_output.openLater();
}

void PortRecovery::bringOutputBack()
{
    Ui::ZelvoFootswitch2 &form = m_window.form();
    form.Command1->setVisible(true);
    form.Command2->setVisible(false);
}
