#include "app/relay/footswitchrelay.h"

#include "app/relay/serialline.h"
#include "app/relay/zelvofootswitch2.h"
#include "ui_zelvofootswitch2.h"

#include <QTimer>

FootswitchRelay::FootswitchRelay(ZelvoFootswitch2 &window)
    : m_window(window)
{
}

void FootswitchRelay::connectControls()
{
    Ui::ZelvoFootswitch2 &form = m_window.form();
    connect(&m_window.Timer1, &QTimer::timeout, this, &FootswitchRelay::Timer1_Timer);
    // toggled fires on a change of value only: setting the value the box
    // already has runs nothing, so RTS is written once per edge, not per tick.
    connect(form.Check1, &QCheckBox::toggled, this, &FootswitchRelay::Check1_Click);
    connect(form.cmdTx, &QPushButton::clicked, this, &FootswitchRelay::cmdTx_Click);
    connect(form.cmdRx, &QPushButton::clicked, this, &FootswitchRelay::cmdRx_Click);
}

void FootswitchRelay::Timer1_Timer()
{
    QCheckBox *status = m_window.form().Check1;
    try {
        status->setChecked(m_window.MSComm1.ctsHolding());
    } catch (const SerialLineError &error) {
        // A closed port (About window open, or its open failed) is quietly
        // tried again next tick. A port whose device went away while the
        // switch may be held must not leave the transmitter keyed: the
        // footswitch counts as released, and the line is closed now.
        if (error.kind() == SerialLineError::Kind::DeviceLost) {
            status->setChecked(false);
            emit inputLost();
        }
    }
    checkOutput();
}

void FootswitchRelay::checkOutput()
{
    // Nothing else touches the output between edges: without a look at it
    // every tick, an unplugged relay adapter or a dropped link would only be
    // noticed at the next press.
    SerialLine &output = m_window.MSComm2;
    if (!output.isOpen())
        return;
    try {
        output.ctsHolding();
    } catch (const SerialLineError &error) {
        if (error.kind() == SerialLineError::Kind::DeviceLost) {
            showReleasedMarkers();
            emit outputLost();
        }
    }
}

void FootswitchRelay::showReleasedMarkers()
{
    Ui::ZelvoFootswitch2 &form = m_window.form();
    form.Command1->setVisible(true);
    form.Command2->setVisible(false);
}

void FootswitchRelay::Check1_Click()
{
    Ui::ZelvoFootswitch2 &form = m_window.form();
    if (form.Check1->isChecked()) {
        form.Picture1->setVisible(true);
        form.cmdTx->click();
    } else {
        form.Picture1->setVisible(false);
        form.cmdRx->click();
    }
}

void FootswitchRelay::cmdTx_Click()
{
    Ui::ZelvoFootswitch2 &form = m_window.form();
    form.Command1->setVisible(false);
    form.Command2->setVisible(true);
    driveOutput(true);
}

void FootswitchRelay::cmdRx_Click()
{
    showReleasedMarkers();
    driveOutput(false);
}

void FootswitchRelay::driveOutput(bool keyed)
{
    SerialLine &output = m_window.MSComm2;
    try {
        output.setRtsEnabled(keyed);
    } catch (const SerialLineError &) {
        // The relay no longer follows the switch: the window must not show
        // "Tx" for a transmitter that is not keyed, and the port is closed
        // and opened again in the background (which tells the user once).
        showReleasedMarkers();
        emit outputLost();
    }
}
