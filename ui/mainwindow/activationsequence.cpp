#include "ui/mainwindow/activationsequence.h"

#include "core/portmessages.h"
#include "ui/mainwindow/portrecovery.h"
#include "core/relaysettings.h"
#include "core/stationsettings.h"
#include "ui/mainwindow/windowplacement.h"
#include "ui/mainwindow/zelvofootswitch2.h"
#include "platform/desktop/messages.h"
#include "platform/storage/settingsstore.h"
#include "ui_zelvofootswitch2.h"

#include <QScopedValueRollback>

namespace {

// A step whose failure is skipped: the sequence goes on with the next one.
template<typename Step>
void skipOnFailure(Step step)
{
    try {
        step();
    } catch (const SerialLineError &) {
    }
}

// The device (as mapped) and why it could not be opened, for the message.
QString failureDetail(const SerialLine &line, const SerialLineError &error)
{
    const QString location = line.location();
    const QString reason = QString::fromStdString(error.what());
    if (location.isEmpty() || reason.startsWith(location))
        return reason;
    return QStringLiteral("%1: %2").arg(location, reason);
}

void showPortChoice(QComboBox *combo, const QString &port)
{
    // Setting the text from code is not a port choice: no signal may run it.
    const QSignalBlocker blocker(combo);
    const QString text = QStringLiteral("Com") + port;
    combo->setCurrentIndex(combo->findText(text));
    combo->setEditText(text);
}

} // namespace

ActivationSequence::ActivationSequence(ZelvoFootswitch2 &window)
    : m_window(window)
{
}

void ActivationSequence::run()
{
    // A message box or a nested event loop inside a step must not start a
    // second run on top of this one.
    if (m_running)
        return;
    const QScopedValueRollback<bool> running(m_running, true);

    fillInMissingSettings();
    restorePosition();
    restorePortChoices();
    restoreOnTop();
    m_window.relay().configure(FootswitchOptions::load(*m_window.platform().settings));
    if (!openInputPort())
        return;
    if (!openOutputPort())
        return;
    showReleasedState();
}

void ActivationSequence::fillInMissingSettings()
{
    SettingsStore &settings = *m_window.platform().settings;
    using namespace RelaySettings;
    // A value that does not convert counts as missing: the store is a text
    // file that users edit, and a bad value must not stop the program.
    if (!positionValue(settings.get(positionLeft)))
        settings.save(positionLeft, positionText(WindowPlacement::leftTwips(m_window)));
    if (!positionValue(settings.get(positionTop)))
        settings.save(positionTop, positionText(WindowPlacement::topTwips(m_window)));
    if (!isOnTopText(settings.get(onTop)))
        settings.save(onTop, defaultOnTop);
    if (settings.get(comPortIn).isEmpty())
        settings.save(comPortIn, defaultPort);
    if (settings.get(comPortOut).isEmpty())
        settings.save(comPortOut, defaultPort);
}

void ActivationSequence::restorePosition()
{
    const SettingsStore &settings = *m_window.platform().settings;
    const float left = RelaySettings::positionValue(settings.get(RelaySettings::positionLeft)).value_or(0);
    const float top = RelaySettings::positionValue(settings.get(RelaySettings::positionTop)).value_or(0);
    WindowPlacement::moveToTwips(m_window, left, top);
}

void ActivationSequence::restorePortChoices()
{
    const SettingsStore &settings = *m_window.platform().settings;
    m_window.ComPortIn = settings.get(RelaySettings::comPortIn);
    showPortChoice(m_window.form().ComboComIn, m_window.ComPortIn);
    m_window.ComPortOut = settings.get(RelaySettings::comPortOut);
    showPortChoice(m_window.form().ComboComOut, m_window.ComPortOut);
}

void ActivationSequence::restoreOnTop()
{
    const QString stored = m_window.platform().settings->get(RelaySettings::onTop);
    // A change of the box runs its own click behaviour, which applies the
    // stacking and stores the value again.
    m_window.form().chkOnTop->setValue(stored.toInt());
    m_window.SetAlwaysOnTop(&m_window, m_window.form().chkOnTop->value() == 1);
}

bool ActivationSequence::openInputPort()
{
    SerialLine &line = m_window.MSComm1;
    // A port still open from the last run (the About window was entered
    // again without its command) keeps its connection.
    if (!line.isOpen()) {
        // An open still under way in the background gives way to this one.
        line.close();
        const std::optional<qint16> number = RelaySettings::portNumber(m_window.ComPortIn);
        QString detail;
        bool opened = false;
        if (number) {
            line.select(*number);
            line.setHeartbeat(false);
            try {
                line.open();
                opened = true;
            } catch (const SerialLineError &error) {
                detail = failureDetail(line, error);
            }
        }
        if (!opened) {
            m_window.platform().messages->show(PortMessages::inputNotAvailable(m_window.ComPortIn, detail));
            // Tried again in the background until it comes back.
            if (number)
                m_window.recovery().inputOpenFailed();
            return false;
        }
    }
    m_window.recovery().inputOpened();
    m_window.relay().supplyFootswitch();
    return true;
}

bool ActivationSequence::openOutputPort()
{
    SerialLine &line = m_window.MSComm2;
    // The released state is about to be shown: the line must come up
    // released too, even if it was keyed by mouse before the ports closed.
    m_window.relay().releaseOutputLine();
    if (line.isOpen()) {
        m_window.recovery().outputOpened();
        return true;
    }
    line.close();
    const std::optional<qint16> number = RelaySettings::portNumber(m_window.ComPortOut);
    QString detail;
    if (number) {
        try {
            line.select(*number);
            // A remote relay whose server drops the lines of a silent
            // connection needs to hear from us while we are alive.
            line.setHeartbeat(StationSettings::heartbeatEnabled(*m_window.platform().settings, *number));
            line.open();
            m_window.recovery().outputOpened();
            return true;
        } catch (const SerialLineError &error) {
            detail = failureDetail(line, error);
        }
    }
    m_window.platform().messages->show(PortMessages::outputNotAvailable(m_window.ComPortOut, detail));
    if (number)
        m_window.recovery().outputOpenFailed();
    return false;
}

void ActivationSequence::showReleasedState()
{
    Ui::ZelvoFootswitch2 &form = m_window.form();
    form.Command1->setVisible(true);
    form.Command2->setVisible(false);
    // When the box was checked, the change runs the status change, which
    // presses Rx and lowers RTS on the output.
    skipOnFailure([&] { form.Check1->setChecked(false); });
}
