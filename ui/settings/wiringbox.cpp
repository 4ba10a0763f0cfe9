#include "ui/settings/wiringbox.h"

#include "core/keyingengine.h"
#include "core/stationsettings.h"
#include "platform/desktop/messages.h"
#include "ui/settings/footswitchbox.h"
#include "ui/settings/pendingsettings.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLoggingCategory>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>

// Off unless asked for (QT_LOGGING_RULES="zelvo.wiring.debug=true"): when
// Detect listens and what it found, for a test or a user who wants to see.
Q_LOGGING_CATEGORY(lcWiring, "zelvo.wiring", QtWarningMsg)

namespace {

constexpr int lampSize = 14;

// A round lamp: off (dark), lit in its colour, or unknown (hollow) while the
// port cannot be read.
void light(QLabel *lamp, std::optional<bool> on, const char *colour)
{
    const int state = on ? int(*on) : -1;
    if (lamp->property("lit").isValid() && lamp->property("lit").toInt() == state)
        return; // a style sheet is costly to apply at every read
    lamp->setProperty("lit", state);
    const QString face = !on ? QStringLiteral("transparent") : *on ? QLatin1String(colour) : QStringLiteral("#404040");
    lamp->setStyleSheet(QStringLiteral("background: %1; border: 1px solid #202020; border-radius: %2px;")
                            .arg(face)
                            .arg(lampSize / 2));
}

QLabel *newLamp(const QString &name)
{
    auto *lamp = new QLabel;
    lamp->setObjectName(name);
    lamp->setFixedSize(lampSize, lampSize);
    light(lamp, std::nullopt, "");
    return lamp;
}

} // namespace

WiringBox::WiringBox(FootswitchBox &footswitch, const SettingsStore &settings, QWidget *parent)
    : QGroupBox(QStringLiteral("Wiring assistant"), parent)
    , m_footswitch(footswitch)
    , m_settings(settings)
{
    auto *lamps = new QHBoxLayout;
    for (size_t line = 0; line < m_lamps.size(); ++line) {
        const QString name = StationSettings::footswitchLineText(SerialPortDevice::InputLine(line));
        m_lamps[line] = newLamp(name.toLower() + QStringLiteral("Lamp"));
        lamps->addWidget(m_lamps[line]);
        lamps->addWidget(new QLabel(name));
        lamps->addSpacing(10);
    }
    m_relayLamp = newLamp(QStringLiteral("relayLamp"));
    m_relayName = new QLabel;
    auto *relay = new QHBoxLayout;
    relay->addWidget(m_relayLamp);
    relay->addWidget(m_relayName);
    relay->addStretch();

    m_detect = new QPushButton(QStringLiteral("D&etect"));
    m_detect->setObjectName(QStringLiteral("detectFootswitch"));
    m_detect->setToolTip(QStringLiteral("Finds the footswitch's line and whether it is normally closed, "
                                        "and sets both above."));
    m_test = new QPushButton(QStringLiteral("Test rela&y"));
    m_test->setObjectName(QStringLiteral("testRelay"));
    m_test->setToolTip(QStringLiteral("Keys the transmitter for one second, so that you hear the relay."));
    // Return in the window means OK, also after a click on one of these.
    m_detect->setAutoDefault(false);
    m_test->setAutoDefault(false);

    m_note = new QLabel;
    m_note->setWordWrap(true);
    m_status = new QLabel;
    m_status->setObjectName(QStringLiteral("wiringStatus"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_status->setText(QStringLiteral("Detect listens for %1 s while you press and release the footswitch a few "
                                     "times.")
                          .arg(ListenMs / 1000));
    m_footswitchPort = new QLabel;
    m_relayPort = new QLabel;

    auto *layout = new QGridLayout(this);
    layout->setColumnStretch(3, 1);
    layout->addWidget(m_note, 0, 0, 1, 4);
    layout->addWidget(m_footswitchPort, 1, 0);
    layout->addLayout(lamps, 1, 1);
    layout->addWidget(m_detect, 1, 2);
    layout->addWidget(m_relayPort, 2, 0);
    layout->addLayout(relay, 2, 1);
    layout->addWidget(m_test, 2, 2);
    layout->addWidget(m_status, 3, 0, 1, 4);

    m_clock.start();
    m_reads.setTimerType(Qt::PreciseTimer);
    connect(&m_reads, &QTimer::timeout, this, &WiringBox::readLines);
    connect(m_detect, &QPushButton::clicked, this, &WiringBox::detect);
    connect(m_test, &QPushButton::clicked, this, &WiringBox::testRelay);
    connect(&m_footswitch, &FootswitchBox::relayLineChanged, this, &WiringBox::reopenWiring);
    // Shown only once it has an engine to work through.
    setVisible(false);
}

WiringBox::~WiringBox()
{
    closeWiring();
}

void WiringBox::setEngine(KeyingEngine &engine, Messages &messages, const QString &inputPort,
                          const QString &outputPort)
{
    m_engine = &engine;
    m_messages = &messages;
    // Not a read: the engine is in the middle of a transition when it says so.
    connect(m_engine, &KeyingEngine::stateChanged, this, &WiringBox::showRelay);
    connect(m_engine, &KeyingEngine::outputsKeyedChanged, this, &WiringBox::showRelay);
    // A port that opened or went is read at once, not at the next tick:
    // Detect is ready as soon as the footswitch can be heard. Queued, as the
    // engine says so in the middle of opening the port.
    connect(m_engine, &KeyingEngine::portsChanged, this, &WiringBox::readLines, Qt::QueuedConnection);
    setPorts(inputPort, outputPort);
}

void WiringBox::setPorts(const QString &inputPort, const QString &outputPort)
{
    // Open already: the numbers, or what they mean, have changed.
    const bool reopen = m_open;
    m_inputPort = inputPort;
    m_outputPort = outputPort;
    m_note->setText(QStringLiteral("RTS and DTR of Com%1 are on as the footswitch's supply. The footswitch "
                                   "keys nothing while this page is open.")
                        .arg(inputPort));
    m_footswitchPort->setText(QStringLiteral("Footswitch, Com%1:").arg(inputPort));
    m_relayPort->setText(QStringLiteral("Relay, Com%1:").arg(outputPort));
    if (reopen)
        reopenWiring();
    setVisible(!inputPort.isEmpty() && !outputPort.isEmpty());
}

void WiringBox::showEvent(QShowEvent *event)
{
    QGroupBox::showEvent(event);
    if (!event->spontaneous())
        openWiring();
}

void WiringBox::hideEvent(QHideEvent *event)
{
    QGroupBox::hideEvent(event);
    if (!event->spontaneous())
        closeWiring();
}

void WiringBox::openWiring()
{
    if (!m_engine || m_open || m_inputPort.isEmpty() || m_outputPort.isEmpty())
        return;
    emit aboutToOpen();
    m_open = true;
    // The relay line as chosen on the page, saved or not: the test keys the
    // line the user is about to save.
    PendingSettings pending(m_settings);
    m_footswitch.save(pending);
    m_engine->closePorts();
    m_engine->configure(pending);
    m_engine->openForWiring(m_inputPort, m_outputPort);
    m_relayName->setText(StationSettings::relayLineText(m_engine->options().relayLine));
    m_reads.start(LampReadMs);
    readLines();
}

void WiringBox::closeWiring()
{
    if (!m_open)
        return;
    m_open = false;
    m_reads.stop();
    if (m_detector) {
        m_detector.reset();
        setStatus(QStringLiteral("Detect stopped when the page was left."));
    }
    // Releases a relay test too; the main window opens the ports as usual
    // when the settings window closes.
    m_engine->closePorts();
}

void WiringBox::reopenWiring()
{
    if (!m_open)
        return;
    closeWiring();
    openWiring();
}

void WiringBox::readLines()
{
    if (!m_open)
        return;
    const std::optional<KeyingEngine::InputLevels> levels = m_engine->inputLevels();
    for (size_t line = 0; line < m_lamps.size(); ++line)
        light(m_lamps[line], levels ? std::optional<bool>((*levels)[line]) : std::nullopt, "#20c020");
    if (m_detector) {
        if (!levels) {
            m_detector.reset();
            setStatus(QStringLiteral("The footswitch port went away while listening: try again once it is back."));
        } else {
            const qint64 now = m_clock.elapsed();
            m_detector->add(now, *levels);
            if (now >= m_listenUntilMs)
                finishListening();
            else
                setStatus(QStringLiteral("Press and release the footswitch a few times … %1 s")
                              .arg((m_listenUntilMs - now + 999) / 1000));
        }
    }
    m_detect->setEnabled(levels && !m_detector);
    showRelay();
}

void WiringBox::showRelay()
{
    if (!m_open)
        return;
    const bool outputReady = m_engine->state() != KeyingEngine::State::OutputUnavailable;
    // Lit while the outputs are keyed, release tails included.
    const bool keyed = m_engine->isTransmitting();
    light(m_relayLamp, outputReady || keyed ? std::optional<bool>(keyed) : std::nullopt, "#e04000");
    m_test->setEnabled(outputReady && !m_engine->isKeyed() && !keyed && !m_detector);
}

void WiringBox::detect()
{
    if (!m_open || m_detector || !m_engine->inputLevels())
        return;
    m_detector.emplace();
    m_listenUntilMs = m_clock.elapsed() + ListenMs;
    m_reads.setInterval(ListenReadMs);
    qCDebug(lcWiring) << "detect: listening";
    readLines();
}

void WiringBox::finishListening()
{
    const FootswitchDetector::Result result = m_detector->result();
    m_detector.reset();
    m_reads.setInterval(LampReadMs);
    qCDebug(lcWiring).noquote() << "detect:" << result.sentence;
    if (result.outcome != FootswitchDetector::Outcome::Found) {
        setStatus(result.sentence);
        return;
    }
    m_footswitch.setFootswitch(result.line, result.inverted);
    setStatus(result.sentence + QStringLiteral(" Set above; OK saves it."));
}

void WiringBox::testRelay()
{
    if (!m_open)
        return;
    const QString line = StationSettings::relayLineText(m_engine->options().relayLine);
    QPointer<WiringBox> box(this);
    m_messages->ask(QStringLiteral("Key the transmitter for one second through %1 of Com%2?\n\n"
                                   "It goes on the air: check the frequency and the antenna first.")
                        .arg(line, m_outputPort),
                    [box] {
                        // The page may have gone while the question was open.
                        if (!box || !box->m_open)
                            return;
                        box->m_engine->testRelay();
                        box->setStatus(box->m_engine->isKeyed()
                                           ? QStringLiteral("Relay keyed for one second: listen for it.")
                                           : QStringLiteral("The relay port is not ready: nothing was keyed."));
                        box->showRelay();
                    });
}

void WiringBox::setStatus(const QString &text)
{
    m_status->setText(text);
}
