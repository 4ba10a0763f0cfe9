#include "ui/mainwindow/activationsequence.h"

#include "core/relaysettings.h"
#include "ui/mainwindow/windowplacement.h"
#include "ui/mainwindow/zelvofootswitch2.h"
#include "platform/storage/settingsstore.h"
#include "ui_zelvofootswitch2.h"

#include <QScopedValueRollback>

namespace {

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
    // The engine opens the ports in the background, the input first, and
    // shows the released state; the window is drawn meanwhile.
    KeyingEngine &engine = m_window.engine();
    engine.configure(*m_window.platform().settings);
    engine.openPorts(m_window.ComPortIn, m_window.ComPortOut);
    m_window.showPortState();
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
