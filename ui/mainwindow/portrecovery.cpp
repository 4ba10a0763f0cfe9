#include "ui/mainwindow/portrecovery.h"

#include "core/portmessages.h"
#include "core/relaysettings.h"
#include "core/stationsettings.h"
#include "core/serialline.h"
#include "ui/mainwindow/zelvofootswitch2.h"
#include "platform/process/fatalsignalrelease.h"
#include "platform/desktop/messages.h"

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
    m_window.relay().releaseOutputLine();
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
    m_window.relay().supplyFootswitch();
    // Activation stopped at the input: the output was never tried.
    SerialLine &output = m_window.MSComm2;
    if (m_output.state() != PortSupervisor::State::Closed || output.isOpen() || output.isOpening())
        return;
    const std::optional<qint16> number = RelaySettings::portNumber(m_window.ComPortOut);
    if (!number)
        return;
    output.select(*number);
    m_window.relay().releaseOutputLine();
    output.setHeartbeat(StationSettings::heartbeatEnabled(*m_window.platform().settings, *number));
    m_output.openLater();
}

void PortRecovery::bringOutputBack()
{
    m_window.relay().showReleasedMarkers();
}
