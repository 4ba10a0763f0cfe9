#include "ui/mainwindow/zelvofootswitch2.h"

#include "ui/about/frmabout.h"
#include "ui/settings/settingswindow.h"
#include "ui/help/helpindex.h"
#include "ui/mainwindow/programicon.h"
#include "core/relaysettings.h"
#include "ui/mainwindow/windowplacement.h"
#include "platform/desktop/messages.h"
#include "platform/storage/settingsstore.h"
#include "platform/desktop/windowstacking.h"
#include "ui_zelvofootswitch2.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QWindow>

namespace {

// A coloured face that still looks like a button on the Fusion style.
void paintMarker(QPushButton *marker, const QColor &face)
{
    QPalette palette = marker->palette();
    palette.setColor(QPalette::Button, face);
    palette.setColor(QPalette::ButtonText, Qt::black);
    marker->setPalette(palette);
}

} // namespace

ZelvoFootswitch2::ZelvoFootswitch2(const PlatformServices &platform, KeyingEngine &engine, QWidget *parent)
    : QMainWindow(parent)
    , MSComm1(engine.input())
    , MSComm2(engine.output())
    , m_platform(platform)
    , m_ui(new Ui::ZelvoFootswitch2)
    , m_engine(engine)
    , m_activation(*this)
{
    m_ui->setupUi(this);
    // The rectangles are laid out for an 8-point dialog font; the platform's
    // family at that size keeps every caption inside its rectangle.
    QFont dialogFont = font();
    dialogFont.setPointSizeF(8);
    setFont(dialogFont);
    paintMarker(m_ui->Command1, QColor(0, 192, 0));
    paintMarker(m_ui->Command2, QColor(192, 64, 0));
    setWindowIcon(programIcon());
    m_statusLine = new PortStatusLine(this);
    statusBar()->setSizeGripEnabled(false);
    statusBar()->setFixedHeight(StateLineHeight);
    // Two rows of text, not a row of framed panels.
    statusBar()->setStyleSheet(QStringLiteral("QStatusBar::item { border: none; }"));
    statusBar()->addWidget(m_statusLine, 1);
    m_outputRows = new OutputStateRows(m_ui->centralwidget);
    // The rectangles are the client area: the menu bar comes on top of it,
    // the outputs' rows and the port state line below it. The line needs
    // more width than the form for both ports' devices and states; the
    // height follows the rows (fitToOutputs).
    resize(m_ui->centralwidget->geometry().size().expandedTo(QSize(StateLineWidth, FormHeight))
           + QSize(0, menuBar()->sizeHint().height() + StateLineHeight));

    // Only an item chosen from the list is a port choice. The combo box
    // would also take typed text that matches an item as a choice, on Enter
    // and on leaving the field: cut it off from its text field's editing.
    for (QComboBox *combo : {m_ui->ComboComIn, m_ui->ComboComOut}) {
        combo->setCompleter(nullptr);
        disconnect(combo->lineEdit(), &QLineEdit::returnPressed, combo, nullptr);
        disconnect(combo->lineEdit(), &QLineEdit::editingFinished, combo, nullptr);
    }
    connect(m_ui->ComboComIn, &QComboBox::activated, this, &ZelvoFootswitch2::ComboComIn_Click);
    connect(m_ui->ComboComOut, &QComboBox::activated, this, &ZelvoFootswitch2::ComboComOut_Click);
    connect(m_ui->mnuSettings, &QAction::triggered, this, &ZelvoFootswitch2::mnuSettings_Click);
    connect(m_ui->mnuTimeOnAir, &QAction::triggered, this, &ZelvoFootswitch2::mnuTimeOnAir_Click);
    m_ui->mnuTimeOnAir->setEnabled(false);
    connect(m_ui->mnuExit, &QAction::triggered, this, &ZelvoFootswitch2::mnuExit_Click);
    connect(m_ui->mnuIndex, &QAction::triggered, this, &ZelvoFootswitch2::mnuIndex_Click);
    connect(m_ui->mnuAbout, &QAction::triggered, this, &ZelvoFootswitch2::mnuAbout_Click);
    // However the program is asked to end, the settings are saved first.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &ZelvoFootswitch2::Form_Unload);

    // Until activation loads them, the port members hold the stored numbers,
    // so that an unload before it does not write the choice away.
    ComPortIn = platform.settings->get(RelaySettings::comPortIn);
    ComPortOut = platform.settings->get(RelaySettings::comPortOut);
    // The rows of the chain as it is until activation configures it, so that
    // the window is as high as it will be before it is placed.
    showPortState();

    // The first showing, before a position is stored: centred on the screen.
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect placed = geometry();
        placed.moveCenter(screen->availableGeometry().center());
        move(placed.topLeft());
    }

    connect(m_ui->chkOnTop, &QCheckBox::stateChanged, this, &ZelvoFootswitch2::chkOnTop_Click);
    connect(m_ui->cmdTx, &QPushButton::clicked, this, &ZelvoFootswitch2::cmdTx_Click);
    connect(m_ui->cmdRx, &QPushButton::clicked, this, &ZelvoFootswitch2::cmdRx_Click);
    // The keys do what the buttons do, while this window has the focus.
    const auto addKey = [this](const QKeySequence &key, void (ZelvoFootswitch2::*slot)()) {
        auto *shortcut = new QShortcut(key, this);
        connect(shortcut, &QShortcut::activated, this, slot);
    };
    addKey(QKeySequence(Qt::CTRL | Qt::Key_T), &ZelvoFootswitch2::cmdTx_Click);
    addKey(QKeySequence(Qt::CTRL | Qt::Key_R), &ZelvoFootswitch2::cmdRx_Click);
    addKey(QKeySequence(Qt::Key_Escape), &ZelvoFootswitch2::cmdRx_Click);
    m_ui->cmdTx->setToolTip(QStringLiteral("Keys the transmitter (Ctrl+T)"));
    m_ui->cmdRx->setToolTip(QStringLiteral("Releases the transmitter (Ctrl+R, Esc)"));

    // In the band between the always-on-top box and the port choices, big
    // enough to be read from the operating chair.
    m_countdown = new QLabel(m_ui->centralwidget);
    m_countdown->setObjectName(QStringLiteral("timeoutCountdown"));
    m_countdown->setGeometry(8, 50, 164, 20);
    QFont countdownFont = dialogFont;
    countdownFont.setBold(true);
    countdownFont.setPointSizeF(10);
    m_countdown->setFont(countdownFont);
    m_countdown->setStyleSheet(QStringLiteral("color: white; background: #c02000; padding-left: 4px;"));
    m_countdown->hide();
    connect(&m_engine, &KeyingEngine::footswitchChanged, this, &ZelvoFootswitch2::Check1_Click);
    connect(&m_engine, &KeyingEngine::stateChanged, this, &ZelvoFootswitch2::showKeying);
    connect(&m_engine, &KeyingEngine::outputsKeyedChanged, this, &ZelvoFootswitch2::showKeying);
    connect(&m_engine, &KeyingEngine::portsChanged, this, &ZelvoFootswitch2::showPortState);
    connect(&m_engine, &KeyingEngine::noticeChanged, this, &ZelvoFootswitch2::showNotice);
    connect(&m_engine, &KeyingEngine::keyingSourceChanged, this, &ZelvoFootswitch2::showNotice);
    connect(&m_engine, &KeyingEngine::portFailed, this, [this](const QString &message) {
        if (!m_unloaded)
            m_platform.messages->show(message);
    });
    showNotice();
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, &ZelvoFootswitch2::focusWindowChanged);

    // Precise: the default coarse timer may fire up to 5 % late.
    Timer1.setTimerType(Qt::PreciseTimer);
    Timer1.setInterval(KeyingEngine::PollIntervalMs);
    connect(&Timer1, &QTimer::timeout, this, &ZelvoFootswitch2::Timer1_Timer);
    Timer1.start();
}

ZelvoFootswitch2::~ZelvoFootswitch2()
{
    // The widgets die after this body has run, and the focus moves as they
    // go: no application signal may reach this half-destroyed window.
    disconnect(qGuiApp, nullptr, this, nullptr);
    Timer1.stop();
    delete m_about;
    delete m_ui;
}

void ZelvoFootswitch2::Timer1_Timer()
{
    m_engine.poll();
}

void ZelvoFootswitch2::Check1_Click(bool pressed)
{
    m_ui->Check1->setChecked(pressed);
    m_ui->Picture1->setVisible(pressed);
}

void ZelvoFootswitch2::cmdTx_Click()
{
    m_engine.operatorKey();
}

void ZelvoFootswitch2::cmdRx_Click()
{
    m_engine.operatorRelease();
}

void ZelvoFootswitch2::showTimeoutCountdown(int secondsLeft)
{
    m_countdown->setText(QStringLiteral("Tx time-out in %1 s").arg(secondsLeft));
    m_countdown->setVisible(secondsLeft > 0);
}

void ZelvoFootswitch2::showKeying()
{
    // "Tx" exactly while any output is keyed: also while a release walk
    // still holds the amplifier or the radio after the footswitch let go.
    const bool keyed = m_engine.isTransmitting();
    m_ui->Command1->setVisible(!keyed);
    m_ui->Command2->setVisible(keyed);
    showPortState();
}

void ZelvoFootswitch2::showNotice()
{
    // What the engine must say comes first; otherwise, while keyed, who
    // keyed: a program may key the chain while nobody touches the window.
    const QString source = m_engine.keyingSource();
    if (!m_engine.notice().isEmpty() || source.isEmpty())
        m_statusLine->setNotice(m_engine.notice());
    else
        m_statusLine->setNotice(QStringLiteral("keyed by ") + source);
}

void ZelvoFootswitch2::SetAlwaysOnTop(QWidget *window, bool onTop)
{
    m_platform.stacking->setAlwaysOnTop(window, onTop);
}

void ZelvoFootswitch2::setVisible(bool visible)
{
    // Showing the window activates it. The first activation runs before
    // the native window exists: a position set then is the frame's, which
    // the window manager honours, and the window appears where it was left
    // instead of a title bar lower at every start.
    // Without a settings file no port has been chosen, and the built-in
    // default would raise the lines of a port that may carry anything: the
    // Ports page comes first, and its closing runs the first activation.
    const bool firstShow = visible && !m_firstShowDone;
    if (firstShow) {
        m_firstShowDone = true;
        m_firstStartPending = !m_platform.settings->exists();
        if (!m_firstStartPending)
            m_activation.run();
    }
    QMainWindow::setVisible(visible);
    if (firstShow && m_firstStartPending) {
        mnuSettings_Click();
        m_settingsWindow->showFirstStart();
    }
}

void ZelvoFootswitch2::focusWindowChanged(QWindow *focus)
{
    if (!focus || m_unloaded)
        return; // another application (the last window of ours is still the one that counts), or the end
    if (focus == windowHandle()) {
        if (m_activateOnReturn && m_firstShowDone) {
            m_activateOnReturn = false;
            m_activation.run();
        }
        return;
    }
    // Only a return from the About window activates: Qt also activates this
    // window after one of its own message boxes, and an activation that
    // shows a message on every return would never end.
    m_activateOnReturn = m_about && focus == m_about->windowHandle();
}

void ZelvoFootswitch2::chkOnTop_Click()
{
    // A value of 2 (greyed, from a stored "2") counts as not on top.
    SetAlwaysOnTop(this, m_ui->chkOnTop->value() == 1);
    m_platform.settings->save(RelaySettings::onTop, QString::number(m_ui->chkOnTop->value()));
}

void ZelvoFootswitch2::ComboComIn_Click()
{
    ComPortIn = m_ui->ComboComIn->currentText();
    ComPortIn = ComPortIn.mid(3, 1);
    m_platform.settings->save(RelaySettings::comPortIn, ComPortIn);
    showPortState();
}

void ZelvoFootswitch2::ComboComOut_Click()
{
    ComPortOut = m_ui->ComboComOut->currentText();
    ComPortOut = ComPortOut.mid(3, 1);
    m_platform.settings->save(RelaySettings::comPortOut, ComPortOut);
    showPortState();
}

void ZelvoFootswitch2::showPortState()
{
    // Each drop-down names the device its number means now; the state line
    // tells how the port in use is doing.
    const auto location = [this](const QString &number) {
        const std::optional<qint16> port = RelaySettings::portNumber(number);
        return port ? m_platform.ports->location(*port) : QString();
    };
    m_ui->ComboComIn->setToolTip(location(ComPortIn));
    m_ui->ComboComOut->setToolTip(location(ComPortOut));
    // A port in use shows the number it was opened with; a closed one the
    // number that the next activation will open.
    const auto portView = [&](const SerialLine &line, const PortSupervisor &supervisor, const QString &chosen) {
        if (supervisor.state() == PortSupervisor::State::Closed)
            return PortStatusLine::Port{chosen, location(chosen), supervisor.state(), 0};
        return PortStatusLine::Port{QString::number(line.portNumber()), line.location(), supervisor.state(),
                                    supervisor.retries()};
    };
    QList<PortStatusLine::Port> more;
    for (int index = 1; index < m_engine.outputCount(); ++index) {
        const KeyedOutput &output = m_engine.outputAt(index);
        more.append({output.portNumber(), output.location(), output.state(), output.retries()});
    }
    // How far the walk is, while any output of a chain is keyed.
    const QString walk = m_engine.outputCount() > 1 && m_engine.isTransmitting()
        ? QStringLiteral("Tx %1/%2").arg(m_engine.keyedOutputs()).arg(m_engine.outputCount())
        : QString();
    m_statusLine->showPorts(portView(MSComm1, m_engine.inputSupervisor(), ComPortIn),
                            portView(MSComm2, m_engine.outputSupervisor(), ComPortOut), more, walk);
    // One row per output of the chain, which configure() may have rebuilt.
    const int rows = m_outputRows->rowCount();
    m_outputRows->showChain(m_engine, ComPortOut);
    if (m_outputRows->rowCount() != rows)
        fitToOutputs();
}

void ZelvoFootswitch2::fitToOutputs()
{
    // The form's controls stay where they are: the window grows downwards.
    const int rows = m_outputRows->rowCount() * OutputStateRows::RowHeight;
    m_outputRows->setGeometry(0, FormHeight, width(), rows);
    resize(width(), menuBar()->sizeHint().height() + FormHeight + rows + StateLineHeight);
}

void ZelvoFootswitch2::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    // Also reached from setupUi, before the rows exist.
    if (m_outputRows)
        m_outputRows->resize(width(), m_outputRows->height());
}

void ZelvoFootswitch2::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}

void ZelvoFootswitch2::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    Timer1.stop();
    // The transmitter first, whatever else is under way: both lines drop
    // and the ports close before anything below can go wrong.
    m_engine.shutdown();

    // One write to the disk for all of them: the window is still on screen.
    QList<std::pair<QString, QString>> values{
        {RelaySettings::positionLeft, RelaySettings::positionText(WindowPlacement::leftTwips(*this))},
        {RelaySettings::positionTop, RelaySettings::positionText(WindowPlacement::topTwips(*this))},
        {RelaySettings::onTop, QString::number(m_ui->chkOnTop->value())},
    };
    // An empty member would wipe out the user's port choice.
    if (!ComPortIn.isEmpty())
        values.append({RelaySettings::comPortIn, ComPortIn});
    if (!ComPortOut.isEmpty())
        values.append({RelaySettings::comPortOut, ComPortOut});
    // A first start that ends before its settings window closed leaves no
    // file: the next start is a first start too.
    if (!m_firstStartPending)
        m_platform.settings->saveTogether(values);

    // The other windows go without their own behaviour (the ports stay
    // closed). The About window runs no event loop of its own and goes at
    // once. The settings window goes later: the unload may come from inside
    // one of its dialogs' event loops (a termination signal arrives through
    // any loop), which must unwind through it first. quit() closes what is
    // still open (a file dialog, a message box) and ends every loop, the
    // nested ones too.
    delete m_about;
    if (m_settingsWindow) {
        m_settingsWindow->reject();
        m_settingsWindow->deleteLater();
    }
    QCoreApplication::quit();
}

void ZelvoFootswitch2::releasePorts()
{
    m_engine.closePorts();
}

void ZelvoFootswitch2::mnuSettings_Click()
{
    // Nothing is keyed while the wiring changes; the return to this window
    // opens the ports again, as they are mapped then.
    if (m_settingsWindow) {
        m_settingsWindow->raise();
        m_settingsWindow->activateWindow();
        return;
    }
    // Closing a port forgets whom it was talking to: read the servers'
    // certificates first. The output is the one the transmitter hangs on,
    // so its server is the one shown when both ports are on TLS; with no
    // TLS port open now, the last one seen stays.
    for (const SerialLine *line : {&MSComm2, &MSComm1}) {
        const QString summary = line->peerCertificateSummary();
        if (!summary.isEmpty()) {
            m_tlsPeerSummary = summary;
            break;
        }
    }
    releasePorts();
    m_settingsWindow = new SettingsWindow(*m_platform.settings, *m_platform.devices, this);
    m_settingsWindow->setAttribute(Qt::WA_DeleteOnClose);
    m_settingsWindow->setTlsPeerSummary(m_tlsPeerSummary);
    // At a first start no port has been chosen yet: the assistant waits for
    // the station page's choice.
    m_settingsWindow->setWiring(m_engine, *m_platform.messages, m_firstStartPending ? QString() : ComPortIn,
                                m_firstStartPending ? QString() : ComPortOut, m_platform.mappings);
    connect(m_settingsWindow, &QDialog::finished, this, [this](int result) {
        if (m_unloaded)
            return;
        // A first start cancelled has still chosen nothing: the default
        // port is no more the user's choice than before.
        if (m_firstStartPending && result == QDialog::Rejected && !m_platform.settings->exists()) {
            m_statusLine->setNotice(QStringLiteral("No port is open: choose the ports under Settings."));
            return;
        }
        m_firstStartPending = false;
        m_activation.run();
    });
    m_settingsWindow->open();
}

void ZelvoFootswitch2::setTimeOnAirLog(TimeOnAirLog *log)
{
    m_timeOnAirLog = log;
    m_ui->mnuTimeOnAir->setEnabled(log != nullptr);
}

void ZelvoFootswitch2::mnuTimeOnAir_Click()
{
    // Only reads the log: the ports stay as they are.
    if (!m_timeOnAirWindow) {
        m_timeOnAirWindow = new TimeOnAirWindow(*m_timeOnAirLog, m_platform.help, m_platform.messages, this);
        m_timeOnAirWindow->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_timeOnAirWindow->show();
    m_timeOnAirWindow->raise();
    m_timeOnAirWindow->activateWindow();
}

void ZelvoFootswitch2::mnuExit_Click()
{
    close();
}

void ZelvoFootswitch2::mnuIndex_Click()
{
    HelpIndex::show(m_helpLocator, m_platform.help, m_platform.messages);
}

void ZelvoFootswitch2::mnuAbout_Click()
{
    // The About window leaves the ports to other programs while it is open;
    // the return to this window opens them again.
    releasePorts();
    if (!m_about)
        m_about = new FrmAbout(m_platform);
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}
