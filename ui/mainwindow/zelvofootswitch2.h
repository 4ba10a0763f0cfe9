#pragma once

#include "core/keyingengine.h"
#include "ui/help/helplocator.h"
#include "ui/mainwindow/activationsequence.h"
#include "ui/mainwindow/outputstaterows.h"
#include "ui/mainwindow/portstatusline.h"
#include "ui/platformservices.h"
#include "ui/settings/settingswindow.h"
#include "ui/timeonair/timeonairwindow.h"

#include <QMainWindow>
#include <QPointer>
#include <QTimer>

QT_BEGIN_NAMESPACE
namespace Ui {
class ZelvoFootswitch2;
}
QT_END_NAMESPACE

// The main window: the footswitch lamp, the Rx/Tx markers and triggers, the
// two port choices and the always-on-top box. It is a view of the keying
// engine: it shows what the engine says (the footswitch in Check1 and the
// lamp, the keying in the markers, the ports in the state line) and forwards
// the Tx and Rx clicks, and their keys: Ctrl+T keys, Ctrl+R and Esc release.
// Its poll timer drives the engine.
class ZelvoFootswitch2 : public QMainWindow
{
    Q_OBJECT

public:
    // The form's rectangles end here; the outputs' rows follow, one per
    // output, and the window is as high as they need.
    static constexpr int FormHeight = 133;
    // The port state line at the bottom, in pixels.
    static constexpr int StateLineHeight = 30;
    static constexpr int StateLineWidth = 250;

    ZelvoFootswitch2(const PlatformServices &platform, KeyingEngine &engine, QWidget *parent = nullptr);
    ~ZelvoFootswitch2() override;

    Ui::ZelvoFootswitch2 &form() { return *m_ui; }
    const PlatformServices &platform() const { return m_platform; }
    ActivationSequence &activation() { return m_activation; }
    KeyingEngine &engine() { return m_engine; }

    // Makes `window` topmost or not, without moving or activating it.
    void SetAlwaysOnTop(QWidget *window, bool onTop);

    // The open About window, if any.
    QWidget *aboutWindow() const { return m_about; }
    // The open settings window, if any.
    SettingsWindow *settingsWindow() const { return m_settingsWindow; }
    void setHelpLocator(const HelpLocator &locator) { m_helpLocator = locator; }
    // The log that File > Time on air... shows; without one the item is off.
    void setTimeOnAirLog(TimeOnAirLog *log);
    TimeOnAirWindow *timeOnAirWindow() const { return m_timeOnAirWindow; }

    // Saves the five settings, releases both ports and ends the program.
    // Every way out runs it: Exit, the close box, the window manager, a
    // termination signal, the session ending. Runs once.
    void Form_Unload();

    // Port number texts ("1" to "9"), mirrors of "ComPort" and "ComPort2".
    QString ComPortIn;
    QString ComPortOut;

    SerialLine &MSComm1; // input: the footswitch on CTS, RTS as its supply (the engine's)
    SerialLine &MSComm2; // output: RTS keys the transmitter (the engine's)
    QTimer Timer1;       // the 100 ms poll

    void Timer1_Timer();
    // The engine's footswitch level: Check1 and the lamp follow it.
    void Check1_Click(bool pressed);
    void cmdTx_Click();
    void cmdRx_Click();
    // The transmit time-out's countdown on the form, over the empty band
    // under the always-on-top box; 0 hides it.
    void showTimeoutCountdown(int secondsLeft);
    QLabel *timeoutCountdown() const { return m_countdown; }

    void setVisible(bool visible) override;

    // Shows the ports and the outputs' rows as the engine has them now.
    // Activation calls it after configuring the engine: a rebuilt chain
    // whose ports stay as they were announces no change of its own.
    void showPortState();

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void chkOnTop_Click();
    void ComboComIn_Click();
    void ComboComOut_Click();
    void mnuSettings_Click();
    void mnuTimeOnAir_Click();
    void mnuExit_Click();
    void mnuIndex_Click();
    void mnuAbout_Click();
    void focusWindowChanged(QWindow *focus);
    // Both ports are left to the wiring while another window of ours that
    // changes it (About, settings) is open.
    void releasePorts();
    // Makes the window as high as the form, one row per output and the
    // state line.
    void fitToOutputs();
    void showKeying();
    void showNotice();

    PlatformServices m_platform;
    Ui::ZelvoFootswitch2 *m_ui = nullptr;
    KeyingEngine &m_engine;
    ActivationSequence m_activation;
    PortStatusLine *m_statusLine = nullptr;
    OutputStateRows *m_outputRows = nullptr;
    QLabel *m_countdown = nullptr;
    HelpLocator m_helpLocator = HelpLocator::forRunningProgram();
    bool m_firstShowDone = false;
    bool m_unloaded = false;
    // A start without settings whose settings window has not closed yet.
    bool m_firstStartPending = false;
    // Set while another window of this program (the About window) had the
    // focus last: the return to this window runs activation again.
    bool m_activateOnReturn = false;
    QPointer<QWidget> m_about;
    QPointer<SettingsWindow> m_settingsWindow;
    TimeOnAirLog *m_timeOnAirLog = nullptr;
    QPointer<TimeOnAirWindow> m_timeOnAirWindow;
    // The network server's certificate, as last seen, for the settings window.
    QString m_tlsPeerSummary;
};
