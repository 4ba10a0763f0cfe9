#include "ui/mainwindow/footswitchrelay.h"

#include "core/serialline.h"
#include "ui/mainwindow/zelvofootswitch2.h"
#include "platform/process/fatalsignalrelease.h"
#include "ui_zelvofootswitch2.h"

#include <QScopedValueRollback>

FootswitchRelay::FootswitchRelay(ZelvoFootswitch2 &window)
    : m_window(window)
{
    m_monotonic.start();
    m_recheck.setSingleShot(true);
    m_recheck.setTimerType(Qt::PreciseTimer);
    connect(&m_recheck, &QTimer::timeout, this, &FootswitchRelay::readFootswitch);
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
    // A change reported by the input runs the tick at once, not at the next
    // multiple of 100 ms.
    m_window.MSComm1.setLineChangeHandler([this] { footswitchLineChanged(); });
}

void FootswitchRelay::configure(const FootswitchOptions &options)
{
    m_options = options;
    const bool level = m_debouncer.level();
    m_debouncer = FootswitchDebouncer(options.debounceMs);
    m_debouncer.reset(level);
    if (options.txTimeoutSeconds != m_timeout.seconds()) {
        m_timeout = TransmitTimeout(options.txTimeoutSeconds);
        setNotice({});
    }
}

void FootswitchRelay::supplyFootswitch()
{
    // A line refused here is not worth failing for: the next poll finds out
    // whether the port is usable.
    SerialLine &input = m_window.MSComm1;
    try {
        input.setRtsEnabled(true);
    } catch (const SerialLineError &) {
    }
    try {
        input.setDtrEnabled(true);
    } catch (const SerialLineError &) {
    }
    m_recheck.stop();
    m_debouncer.reset(m_window.form().Check1->isChecked());
}

void FootswitchRelay::releaseOutputLine()
{
    // On a closed port this only records what the next open applies; on an
    // open one a refusal is found again at the next write or tick.
    SerialLine &output = m_window.MSComm2;
    try {
        output.setRtsEnabled(false);
    } catch (const SerialLineError &) {
    }
    if (m_options.relayLine != StationSettings::RelayLine::Dtr)
        return;
    try {
        output.setDtrEnabled(false);
    } catch (const SerialLineError &) {
    }
}

void FootswitchRelay::Timer1_Timer()
{
    readFootswitch();
    checkTimeout();
    checkOutput();
}

void FootswitchRelay::footswitchLineChanged()
{
    Timer1_Timer();
    // A bouncing contact may settle after this read but before the waiting
    // thread is back in the driver's wait: nobody would report that last
    // change, and the switch would count only at the next tick. One more
    // read once the debounce time has passed finds it.
    if (!m_recheck.isActive())
        m_recheck.start(m_debouncer.debounceMs());
}

void FootswitchRelay::readFootswitch()
{
    QCheckBox *status = m_window.form().Check1;
    try {
        const bool raw = m_window.MSComm1.lineHolding(m_options.line) != m_options.inverted;
        const qint64 sampled = now();
        m_debouncer.sample(raw, sampled);
        // A new level not held long enough yet: read again when it would be,
        // so that it counts then and not only at the next tick.
        if (const std::optional<qint64> due = m_debouncer.recheckAtMs())
            m_recheck.start(int(qMax<qint64>(0, *due - sampled)));
        else
            m_recheck.stop();
        status->setChecked(m_debouncer.level());
    } catch (const SerialLineError &error) {
        // A closed port (About window open, or its open failed) is quietly
        // tried again next tick. A port whose device went away while the
        // switch may be held must not leave the transmitter keyed: the
        // footswitch counts as released, and the line is closed now.
        if (error.kind() == SerialLineError::Kind::DeviceLost) {
            m_recheck.stop();
            m_debouncer.reset(false);
            status->setChecked(false);
            emit inputLost();
        }
    }
}

void FootswitchRelay::checkTimeout()
{
    const qint64 at = now();
    if (m_timeout.poll(at)) {
        // Released by the program, not by the operator: say why, and say
        // what re-arms the footswitch.
        showReleasedMarkers();
        driveOutput(false);
        setNotice(m_timeout.footswitchLatched()
                      ? QStringLiteral("Tx time-out released the transmitter – release the footswitch")
                      : QStringLiteral("Tx time-out released the transmitter"));
        return;
    }
    if (const std::optional<int> left = m_timeout.secondsLeft(at))
        setNotice(QStringLiteral("Tx time-out in %1 s").arg(*left));
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
            FatalSignalRelease::disarm();
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

void FootswitchRelay::setNotice(const QString &notice)
{
    if (notice == m_notice)
        return;
    m_notice = notice;
    emit noticeChanged(m_notice);
}

void FootswitchRelay::Check1_Click()
{
    Ui::ZelvoFootswitch2 &form = m_window.form();
    const QScopedValueRollback<bool> byFootswitch(m_pressedByFootswitch, true);
    if (form.Check1->isChecked()) {
        form.Picture1->setVisible(true);
        // Released by the time-out while held: the footswitch keys nothing
        // until it has been let go.
        if (!m_timeout.footswitchLatched())
            form.cmdTx->click();
    } else {
        form.Picture1->setVisible(false);
        if (m_timeout.footswitchLatched()) {
            m_timeout.footswitchReleased();
            setNotice({});
            return;
        }
        form.cmdRx->click();
    }
}

void FootswitchRelay::cmdTx_Click()
{
    Ui::ZelvoFootswitch2 &form = m_window.form();
    form.Command1->setVisible(false);
    form.Command2->setVisible(true);
    m_timeout.keyed(now(), m_pressedByFootswitch ? TransmitTimeout::Source::Footswitch
                                                  : TransmitTimeout::Source::Button);
    setNotice({});
    driveOutput(true);
}

void FootswitchRelay::cmdRx_Click()
{
    showReleasedMarkers();
    m_timeout.released();
    if (!m_timeout.footswitchLatched())
        setNotice({});
    driveOutput(false);
}

void FootswitchRelay::driveOutput(bool keyed)
{
    SerialLine &output = m_window.MSComm2;
    try {
        // Armed before the line rises: once the command is with the kernel
        // the far end may already be keyed, and a fatal signal in the moment
        // before arming would leave it so. Dropping a line that is still low
        // does no harm.
        if (keyed)
            FatalSignalRelease::arm(output.crashRelease());
        if (m_options.relayLine == StationSettings::RelayLine::Dtr)
            output.setDtrEnabled(keyed);
        else
            output.setRtsEnabled(keyed);
        if (!keyed)
            FatalSignalRelease::disarm();
    } catch (const SerialLineError &) {
        // The relay no longer follows the switch: the window must not show
        // "Tx" for a transmitter that is not keyed, and the port is closed
        // and opened again in the background (which tells the user once).
        FatalSignalRelease::disarm();
        m_timeout.released();
        showReleasedMarkers();
        emit outputLost();
    }
}
