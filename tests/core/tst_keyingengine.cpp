#include "core/keyingengine.h"
#include "platform/process/fatalsignalrelease.h"
#include "support/fakeradiooutput.h"
#include "support/fakeserialports.h"
#include "support/fakesettingsstore.h"

#include <QMetaEnum>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

// The keying engine over fake ports and a fake clock: footswitch on port 1,
// relay on port 2. Every test checks after each step what must always hold,
// whatever happened before:
// - the relay line is high exactly while the engine says it is keyed;
// - the crash release is armed exactly while the relay line is high;
// - the time-out runs exactly while keyed;
// - no port ever opens with the relay line high.
// A position's share of a transmitter, answered by the test. Its claim
// must go only once every output of the chain is low.
class FakeGate : public KeyingGate
{
public:
    bool isRequired() const override { return true; }
    void request() override { ++requests; }
    void chainReleased() override
    {
        QVERIFY(held || requests > 0);
        held = false;
        if (outputsLow)
            QVERIFY2(outputsLow(), "the claim went before the chain released");
    }
    void grant() { held = true; emit granted(); }
    int requests = 0;
    bool held = false;
    std::function<bool()> outputsLow;
};

class tst_KeyingEngine : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void shouldKeepTheInvariantsThroughEverySequence_data();
    void shouldKeepTheInvariantsThroughEverySequence();
    void shouldWalkTheChainInOrderThroughEverySequence_data();
    void shouldWalkTheChainInOrderThroughEverySequence();
    void shouldCountEachStepFromItsConfirmation_data();
    void shouldCountEachStepFromItsConfirmation();
    void shouldShareAnAdapterAndRefuseASupplyOnAnOutput_data();
    void shouldShareAnAdapterAndRefuseASupplyOnAnOutput();
    void shouldHoldOffWhileAnInhibitOnItsOwnPortIsActiveOrUnknown();
    void shouldKeyFromTheChosenLineAndPolarity_data();
    void shouldKeyFromTheChosenLineAndPolarity();
    void shouldCountDownTheLastSecondsBeforeTheTimeOut();
    void shouldReadAllFourInputLinesAndLoseTheInputOnAFailedRead();
    void shouldTellEachFailureOnceAndNotEachRetry();
    void shouldSpaceRetriesByKindOfPort_data();
    void shouldSpaceRetriesByKindOfPort();
    void shouldOpenALostInhibitPortAgain();
    void shouldWalkTheTailsAtTheEndOfTheProgram_data();
    void shouldWalkTheTailsAtTheEndOfTheProgram();

private:
    void start();
    void settle() { QCoreApplication::processEvents(); QCoreApplication::processEvents(); }
    void run(const QString &step);
    void checkInvariants(const QString &after);
    bool relayHigh() const;
    bool outputHigh(int index);
    void checkChain(const QString &after, bool wasKeyed, QStringList &timeline);
    // Runs the steps on the chain once it is ready, checking it after each;
    // each key (+) and release (-) of an output with its time.
    QString walkChain(const QString &steps);
    FakeLineState &in() { return *m_ports.line(1); }
    FakeLineState &out() { return *m_ports.line(2); }

    FakeSerialPorts m_ports;
    FakeSettingsStore m_settings;
    std::unique_ptr<KeyingEngine> m_engine;
    qint64 m_now = 0;
    bool m_dtrRelay = false;
    // The third output is a radio (FakeRadioOutput), not a relay on port 4.
    FakeRadioOutput *m_radio = nullptr;
    std::unique_ptr<FakeGate> m_gate;
    bool m_radioAnswersAtOnce = true;
    QStringList m_radioAsked;
};

void tst_KeyingEngine::init()
{
    m_ports = FakeSerialPorts();
    m_settings = FakeSettingsStore();
    m_settings.values.insert(QStringLiteral("Footswitch-Debounce"), QStringLiteral("0"));
    m_settings.values.insert(QStringLiteral("Tx-Timeout"), QStringLiteral("30"));
    m_now = 0;
    m_dtrRelay = false;
    m_radio = nullptr;
    m_radioAnswersAtOnce = true;
    m_radioAsked.clear();
}

void tst_KeyingEngine::cleanup()
{
    m_engine.reset();
    QVERIFY(!m_gate || !m_gate->held);
    m_gate.reset();
    QCOMPARE(FatalSignalRelease::armedDescriptor(), -1);
}

void tst_KeyingEngine::start()
{
    m_engine = std::make_unique<KeyingEngine>(m_ports);
    m_engine->setClock([this] { return m_now * 1000; });
    m_engine->setRadioMaker([this](const RigAddress &) {
        auto radio = std::make_unique<FakeRadioOutput>();
        radio->answersAtOnce = m_radioAnswersAtOnce;
        radio->asked = &m_radioAsked;
        m_radio = radio.get();
        return radio;
    });
    m_engine->configure(m_settings);
    m_engine->openPorts(QStringLiteral("1"), QStringLiteral("2"));
    settle();
    QVERIFY(m_engine->output().isOpen());
}

bool tst_KeyingEngine::relayHigh() const
{
    // A closed port must have been left low too (a port that keeps its lines
    // on close, a network port); only an unplugged one cannot be.
    FakeLineState &line = *const_cast<FakeSerialPorts &>(m_ports).line(2);
    return !line.gone && (m_dtrRelay ? line.dtr : line.rts);
}

// What the equipment says: the relay's line, or the radio's own PTT.
bool tst_KeyingEngine::outputHigh(int index)
{
    if (index == 2 && m_radio)
        return m_radio->ptt;
    const FakeLineState &line = *m_ports.line(index + 2);
    return !line.gone && (index == 2 ? line.dtr : line.rts);
}

void tst_KeyingEngine::checkInvariants(const QString &after)
{
    const QByteArray where = QStringLiteral("after %1").arg(after).toUtf8();
    QVERIFY2(relayHigh() == m_engine->isKeyed(), where.constData());
    QVERIFY2((FatalSignalRelease::armedDescriptor() != -1) == relayHigh(), where.constData());
    QVERIFY2(m_engine->isTimeoutRunning() == m_engine->isKeyed(), where.constData());
    QVERIFY2(!m_engine->isRelayTestRunning() || m_engine->state() == KeyingEngine::State::KeyedByOperator,
             where.constData());
    QVERIFY2(!m_ports.log.contains(QStringLiteral("open 2 rts=1")), where.constData());
    if (m_dtrRelay)
        QVERIFY2(!out().open || !out().rts, where.constData());
    // An open that left DTR to the platform (Linux raises it) pulsed a relay on DTR.
    QVERIFY2(!m_dtrRelay || !m_ports.log.contains(QStringLiteral("open 2 rts=0")), where.constData());
}

// One step of a sequence: "press", "release", "tx", "rx", "out-lost",
// "out-back", "in-lost", "in-back", "in-fails", "refuse", "about", "return",
// "shutdown", "wiring" (the settings window's Keying page), "test" (its
// relay test), "test-ends" (a second later), "a-key"/"a-rel" (program a
// keys or releases), "by:SOURCE" (keyed by it), or "+N" for N ms later.
void tst_KeyingEngine::run(const QString &step)
{
    const auto unplug = [](FakeLineState &line) { line.gone = true; line.exists = false; };
    const auto plugIn = [this](FakeLineState &line, PortSupervisor &supervisor) {
        line.gone = line.refuseReads = false;
        line.exists = true;
        supervisor.retry();
        settle();
    };
    bool &footswitch = in().cts;
    if (step == QLatin1String("press") || step == QLatin1String("release")) {
        footswitch = step == QLatin1String("press");
        m_engine->poll();
    } else if (step == QLatin1String("tx")) {
        m_engine->operatorKey();
    } else if (step == QLatin1String("rx")) {
        m_engine->operatorRelease();
    } else if (step.endsWith(QLatin1String("-key")) || step.endsWith(QLatin1String("-rel"))) {
        // A program through the PTT server: "a-key", "b-rel".
        if (step.endsWith(QLatin1String("-key")))
            m_engine->clientKey(step.first(1));
        else
            m_engine->clientRelease(step.first(1));
    } else if (step == QLatin1String("gate")) {
        // A position in an interlock group; its claim answered by "grant",
        // "refuse", and its remote inhibit by "remote-inhibit".
        m_gate = std::make_unique<FakeGate>();
        m_gate->outputsLow = [this] { return !relayHigh() && !outputHigh(1) && !outputHigh(2); };
        m_engine->setGate(m_gate.get());
    } else if (step == QLatin1String("grant")) {
        m_gate->grant();
    } else if (step == QLatin1String("deny")) {
        emit m_gate->refused(QStringLiteral("Interlocked: B is transmitting"));
    } else if (step == QLatin1String("remote-inhibit") || step == QLatin1String("remote-uninhibit")) {
        emit m_gate->inhibitChanged(step == QLatin1String("remote-inhibit"));
    } else if (step == QLatin1String("claim-free")) {
        QVERIFY(!m_gate->held);
    } else if (step.startsWith(QLatin1String("by:"))) {
        QCOMPARE(m_engine->keyingSource(), step.mid(3));
    } else if (step == QLatin1String("out-lost")) {
        unplug(out());
        m_engine->poll();
    } else if (step == QLatin1String("out-back")) {
        out().refuseRts = out().refuseDtr = false;
        plugIn(out(), m_engine->outputSupervisor());
    } else if (step == QLatin1String("in-lost")) {
        unplug(in());
        m_engine->poll();
    } else if (step == QLatin1String("in-fails")) {
        in().refuseReads = true;
        m_engine->poll();
    } else if (step == QLatin1String("in-back")) {
        plugIn(in(), m_engine->inputSupervisor());
    } else if (step == QLatin1String("refuse")) {
        out().refuseRts = out().refuseDtr = true;
    } else if (step == QLatin1String("about")) {
        m_engine->closePorts();
    } else if (step == QLatin1String("return")) {
        m_engine->openPorts(QStringLiteral("1"), QStringLiteral("2"));
        settle();
    } else if (step == QLatin1String("wiring")) {
        m_engine->closePorts();
        m_engine->openForWiring(QStringLiteral("1"), QStringLiteral("2"));
        settle();
    } else if (step == QLatin1String("test")) {
        m_engine->testRelay();
    } else if (step == QLatin1String("test-ends")) {
        QSignalSpy released(m_engine.get(), &KeyingEngine::stateChanged);
        QVERIFY(released.wait(2 * KeyingEngine::RelayTestMs));
    } else if (step == QLatin1String("answer")) {
        m_radio->answer();
    } else if (step == QLatin1String("radio-dies")) {
        m_radio->die();
    } else if (step == QLatin1String("reconfigure")) {
        // The Settings window's OK, or a quick return from About.
        m_engine->closePorts();
        m_engine->configure(m_settings);
        m_engine->openPorts(QStringLiteral("1"), QStringLiteral("2"));
        settle();
    } else if (step == QLatin1String("shutdown")) {
        m_engine->shutdown();
    } else if (step == QLatin1String("inhibit") || step == QLatin1String("uninhibit")) {
        in().dsr = step == QLatin1String("inhibit");
        m_engine->poll();
    } else if (step.startsWith(QLatin1String("lost"))) {
        unplug(*m_ports.line(step.mid(4).toInt() + 1));
        m_engine->poll();
    } else if (step.startsWith(QLatin1Char('+'))) {
        m_now += step.mid(1).toInt();
        m_engine->poll();
    } else {
        QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
    }
}

void tst_KeyingEngine::shouldKeepTheInvariantsThroughEverySequence_data()
{
    QTest::addColumn<QString>("relayLine");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("notice");
    const struct
    {
        const char *name;
        const char *steps;
        const char *state;
        const char *notice;
    } rows[] = {
        {"press and release", "press release", "Released", ""},
        {"press held while the output is away comes back released", "press out-lost out-back", "Released", ""},
        {"and keys at the next press", "press out-lost out-back release press", "KeyedByFootswitch", ""},
        {"Tx click while the output is away keys nothing", "out-lost tx out-back", "Released", ""},
        {"nor does a press and release after it", "out-lost tx out-back press release", "Released", ""},
        {"press while the input is away", "in-lost press in-back +100", "KeyedByFootswitch", ""},
        {"input lost while held releases", "press in-lost", "Released", ""},
        {"input read refused while held releases", "press in-fails", "Released", ""},
        {"and recovers", "press in-fails in-back release press", "KeyedByFootswitch", ""},
        {"output lost while keyed by Tx", "tx out-lost", "OutputUnavailable", ""},
        {"relay line refused", "refuse press", "OutputUnavailable", ""},
        {"and back released", "refuse press out-back", "Released", ""},
        {"About while keyed releases", "press about", "OutputUnavailable", ""},
        {"return from About picks up a held switch", "press about return +100", "KeyedByFootswitch", ""},
        {"Tx, About and back comes back released", "tx about return", "Released", ""},
        {"time-out latches the footswitch", "press +30000", "TimedOut",
         "Tx time-out released the transmitter – release the footswitch"},
        {"until it is let go", "press +30000 release press", "KeyedByFootswitch", ""},
        {"Tx after a time-out, then the footswitch let go", "press +30000 tx release", "Released", ""},
        {"time-out of a Tx click", "tx +30000", "Released", "Tx time-out released the transmitter"},
        {"no time-out after the output was lost", "press out-lost +40000 out-back", "Released", ""},
        {"no time-out after the About window", "press about +40000 return", "Released", ""},
        {"Rx after Tx, twice", "tx rx rx", "Released", ""},
        {"footswitch takes over a Tx click", "tx press release", "Released", ""},
        {"Tx while held, then let go", "press tx release", "Released", ""},
        {"exit while keyed", "press shutdown", "OutputUnavailable", ""},
        {"footswitch keys nothing while wiring", "wiring press", "Released", ""},
        {"nor ends a relay test", "wiring test press release", "KeyedByOperator", ""},
        {"relay test lets go after a second", "wiring test test-ends", "Released", ""},
        {"relay test only while wiring", "test", "Released", ""},
        {"relay test ended by Rx", "wiring test rx", "Released", ""},
        {"relay test ended by the time-out", "wiring test +30000", "Released", "Tx time-out released the transmitter"},
        {"relay test ended by a lost output", "wiring test out-lost", "OutputUnavailable", ""},
        {"relay test ended by leaving the page", "wiring test about", "OutputUnavailable", ""},
        {"and the footswitch keys again after it", "wiring press about return +100", "KeyedByFootswitch", ""},
        {"exit during a relay test", "wiring test shutdown", "OutputUnavailable", ""},
        {"a program keys and releases", "a-key by:a a-rel by:", "Released", ""},
        {"each program releases only its own key", "a-key b-key a-rel by:b", "KeyedByClient", ""},
        {"the last program's release ends it", "a-key b-key b-rel a-rel a-rel", "Released", ""},
        {"a program cannot release the footswitch", "press a-rel b-key b-rel by:footswitch", "KeyedByFootswitch", ""},
        {"the footswitch let go, a program still keys", "a-key press by:footswitch release by:a", "KeyedByClient", ""},
        {"Rx ends every program's key", "a-key b-key rx a-rel", "Released", ""},
        {"the time-out ends every program's key", "a-key b-key +30000 b-rel", "Released",
         "Tx time-out released the transmitter"},
        {"and a program asks again", "a-key +30000 a-key", "KeyedByClient", ""},
        {"a program joining does not extend the time-out", "a-key +20000 b-key a-rel +10000", "Released",
         "Tx time-out released the transmitter"},
        {"a program keys nothing while the output is away", "out-lost a-key out-back", "Released", ""},
        {"a lost output ends a program's key", "a-key out-lost out-back", "Released", ""},
        {"a program keys nothing while wiring", "wiring a-key", "Released", ""},
        {"a program keys while a timed-out footswitch is held", "press +30000 a-key release by:a", "KeyedByClient", ""},
        {"in a group a press keys only once granted", "gate press +10 grant by:footswitch", "KeyedByFootswitch", ""},
        {"a refused press keys nothing and says why", "gate press deny", "Released", "Interlocked: B is transmitting"},
        {"until the press is over", "gate press deny release", "Released", ""},
        {"let go before the grant: nothing keys, the claim goes", "gate press release grant claim-free", "Released", ""},
        {"a program waits for the grant", "gate a-key a-key grant by:a a-rel claim-free", "Released", ""},
        {"Rx while the claim settles", "gate tx rx grant claim-free", "Released", ""},
        {"the claim goes after the release", "gate tx grant rx claim-free", "Released", ""},
        {"the group's inhibit holds like the line", "gate tx grant remote-inhibit claim-free tx", "Released", "Inhibited"},
        {"and ends like it", "gate remote-inhibit remote-uninhibit tx grant", "KeyedByOperator", ""},
        {"sources joining a keyed chain ask nothing", "gate tx grant press a-key release by:a", "KeyedByClient", ""},
    };
    for (const char *relay : {"RTS", "DTR"}) {
        for (const auto &row : rows)
            QTest::addRow("%s, %s", relay, row.name) << relay << row.steps << row.state << row.notice;
    }
}

void tst_KeyingEngine::shouldKeepTheInvariantsThroughEverySequence()
{
    QFETCH(QString, relayLine);
    QFETCH(QString, steps);
    QFETCH(QString, state);
    QFETCH(QString, notice);
    m_settings.values.insert(QStringLiteral("Relay-Line"), relayLine);
    m_dtrRelay = relayLine == QLatin1String("DTR");
    start();
    checkInvariants(QStringLiteral("start"));
    for (const QString &step : steps.split(QLatin1Char(' '))) {
        run(step);
        checkInvariants(step);
    }
    const QMetaEnum states = QMetaEnum::fromType<KeyingEngine::State>();
    QCOMPARE(QString::fromLatin1(states.valueToKey(int(m_engine->state()))), state);
    QCOMPARE(m_engine->notice(), notice);
}

// A chain of three relays, on ports 2 (RTS), 3 (RTS) and 4 (DTR): output 1
// leads 30 ms and tails 50 ms, output 2 leads 20 ms and tails 40 ms. DSR of
// the footswitch's port inhibits. After every step:
// - the keyed outputs form a prefix 1..k (a lost one excepted) and are the
//   ones the engine counts as keyed;
// - each output's crash release is armed exactly while it is high;
// - nothing rises in a step that ends released;
// and at the end, each key (+) and release (-) happened at its planned time.
void tst_KeyingEngine::checkChain(const QString &after, bool wasKeyed, QStringList &timeline)
{
    const QByteArray where = QStringLiteral("after %1").arg(after).toUtf8();
    static bool high[3] = {};
    if (after == QLatin1String("start"))
        std::fill(std::begin(high), std::end(high), false);
    bool now[3];
    for (int i = 0; i < 3; ++i) {
        now[i] = outputHigh(i);
        // A radio has nothing a crash handler could reach.
        if (!m_radio || i < 2)
            QVERIFY2((FatalSignalRelease::armedDescriptor(i) != -1) == now[i], where.constData());
        // An output given up may still be on the air (and is said to be).
        const bool givenUp = m_engine->outputAt(i).state() == PortSupervisor::State::Lost;
        QVERIFY2(!now[i] || i < m_engine->keyedOutputs() || givenUp, where.constData());
        if (i > 0 && now[i])
            QVERIFY2(now[i - 1] || m_ports.line(i + 1)->gone || givenUp, where.constData());
        // A radio's answer may confirm a key sent before a release.
        if (now[i] && !high[i])
            QVERIFY2(wasKeyed || m_engine->isKeyed() || after == QLatin1String("answer"), where.constData());
    }
    for (int i = 2; i >= 0; --i) {
        if (high[i] && !now[i])
            timeline << QStringLiteral("%1-%2").arg(i + 1).arg(m_now);
    }
    for (int i = 0; i < 3; ++i) {
        if (now[i] && !high[i])
            timeline << QStringLiteral("%1+%2").arg(i + 1).arg(m_now);
        high[i] = now[i];
    }
    QVERIFY2(m_engine->isTimeoutRunning() == m_engine->isKeyed(), where.constData());
}

QString tst_KeyingEngine::walkChain(const QString &steps)
{
    [this] { QTRY_VERIFY(m_engine->state() == KeyingEngine::State::Released); }();
    QStringList seen;
    checkChain(QStringLiteral("start"), false, seen);
    for (const QString &step : steps.split(QLatin1Char(' '))) {
        const bool wasKeyed = m_engine->isKeyed();
        run(step);
        checkChain(step, wasKeyed, seen);
    }
    return seen.join(QLatin1Char(' '));
}

void tst_KeyingEngine::shouldWalkTheChainInOrderThroughEverySequence_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("timeline");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("notice");
    const QString walk = QStringLiteral("1+0 2+30 3+50");
    const QString back = QStringLiteral("3-50 2-90 1-140");
    QTest::newRow("keys 1 -> 3 with the leads, releases 3 -> 1 with the tails")
        << "press +30 +20 release +40 +50" << walk + ' ' + back << "Released" << "";
    QTest::newRow("Tx and Rx walk the same way") << "tx +30 +20 rx +40 +50" << walk + ' ' + back << "Released" << "";
    QTest::newRow("a tap turns the key walk around where it stands")
        << "press +30 +10 release +40 +10" << "1+0 2+30 2-40 1-90" << "Released" << "";
    QTest::newRow("a press turns the release walk forward again")
        << "press +30 +20 release +20 press" << walk + " 3-50 3+70" << "KeyedByFootswitch" << "";
    QTest::newRow("in a group the claim goes once the walk is done")
        << "gate press grant +30 +20 release +40 +50 claim-free" << walk + ' ' + back << "Released" << "";
    QTest::newRow("inhibit mid-walk releases in order")
        << "press +30 inhibit +50" << "1+0 2+30 2-30 1-80" << "Released" << "Inhibited";
    QTest::newRow("a press while inhibited keys nothing") << "inhibit press tx +100" << "" << "Released" << "Inhibited";
    QTest::newRow("a program walks the chain; inhibit ends its key, which it must ask again")
        << "a-key +30 +20 inhibit +40 +50 uninhibit a-key +30" << walk + ' ' + back + " 1+140 2+170"
        << "KeyedByClient" << "";
    QTest::newRow("the end of inhibit keys nothing until the next press")
        << "press +30 +20 inhibit +40 +50 uninhibit +100 release press" << walk + ' ' + back + " 1+240"
        << "KeyedByFootswitch" << "";
    QTest::newRow("the last output lost mid-walk releases the others in order")
        << "press +30 +20 lost3 +40 +50" << walk + ' ' + back << "OutputUnavailable" << "";
    QTest::newRow("the first output lost mid-walk keys nothing after it")
        << "press +30 lost1 +20 +40" << "1+0 2+30 2-30 1-30" << "OutputUnavailable" << "";
    QTest::newRow("time-out mid-chain releases in order")
        << "press +30 +20 +29950 +40 +50" << walk + " 3-30000 2-30040 1-30090" << "TimedOut"
        << "Tx time-out released the transmitter – release the footswitch";
    QTest::newRow("the input lost releases in order")
        << "press +30 +20 in-lost +40 +50" << walk + ' ' + back << "Released" << "Inhibited";
    QTest::newRow("About waits for the walk, then closes")
        << "press +30 +20 about +40 +50" << walk + ' ' + back << "OutputUnavailable" << "";
    QTest::newRow("exit waits for the walk, then closes")
        << "press +30 +20 shutdown +40 +50" << walk + ' ' + back << "OutputUnavailable" << "";
}

void tst_KeyingEngine::shouldWalkTheChainInOrderThroughEverySequence()
{
    QFETCH(QString, steps);
    QFETCH(QString, timeline);
    QFETCH(QString, state);
    QFETCH(QString, notice);
    const QMap<QString, QString> chain{
        {"Sequence/Output1-Lead", "30"},     {"Sequence/Output1-Tail", "50"},   {"Sequence/Output2-Kind", "Serial"},
        {"Sequence/Output2-Port", "3"},      {"Sequence/Output2-Lead", "20"},   {"Sequence/Output2-Tail", "40"},
        {"Sequence/Output3-Kind", "serial"}, {"Sequence/Output3-Port", "4"},    {"Sequence/Output3-Line", "DTR"},
        {"Inhibit-Line", "DSR"},             {"Inhibit-Port", "1"},
    };
    m_settings.values.insert(chain);
    start();
    QCOMPARE(walkChain(steps), timeline);
    QCOMPARE(QString::fromLatin1(QMetaEnum::fromType<KeyingEngine::State>().valueToKey(int(m_engine->state()))), state);
    QCOMPARE(m_engine->notice(), notice);
    if (steps.contains(QLatin1String("about")) || steps.contains(QLatin1String("shutdown")))
        QVERIFY(!m_ports.line(2)->open && !m_ports.line(3)->open && !m_ports.line(4)->open);
}

// The chain above with a radio as its third output, which answers only when
// the row says so ("answer"): each lead and tail counts from the moment the
// equipment confirmed the step before, never from when it was sent.
void tst_KeyingEngine::shouldCountEachStepFromItsConfirmation_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("timeline");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<QString>("told");
    const QString walk = QStringLiteral("1+0 2+30 3+65");
    QTest::newRow("a slow radio: the relays wait for its release")
        << "press +30 +20 +15 answer release +100 answer +40 +50" << walk + " 3-165 2-205 1-255" << "on off" << "";
    QTest::newRow("a radio that dies while keyed releases the relays in order")
        << "press +30 +20 +15 answer +100 radio-dies +40 +50" << walk + " 3-165 2-205 1-255" << "on" << "";
    QTest::newRow("a reversal in flight: the release follows the key's answer, never before")
        << "press +30 +20 release +10 answer +5 answer +40 +50" << "1+0 2+30 3+60 3-65 2-105 1-155" << "on off" << "";
    QTest::newRow("a release unanswered within its bound: the relays go on, and the user is told")
        << "press +30 +20 +15 answer release +1999 +1 +40 +50" << "1+0 2+30 3+65 2-2105 1-2155" << "on off"
        << "may still be transmitting";
    QTest::newRow("a reconfiguration while keyed walks the tails first")
        << "press +30 +20 +15 answer reconfigure +100 answer +40 +50" << walk + " 3-165 2-205 1-255" << "on off"
        << "";
}

void tst_KeyingEngine::shouldCountEachStepFromItsConfirmation()
{
    QFETCH(QString, steps);
    QFETCH(QString, timeline);
    QFETCH(QString, asked);
    QFETCH(QString, told);
    m_settings.values.insert({
        {"Sequence/Output1-Lead", "30"}, {"Sequence/Output1-Tail", "50"}, {"Sequence/Output2-Kind", "Serial"},
        {"Sequence/Output2-Port", "3"},  {"Sequence/Output2-Lead", "20"}, {"Sequence/Output2-Tail", "40"},
        {"Sequence/Output3-Kind", "CAT"}, {"Sequence/Output3-Rig-Model", "2"},
        {"Sequence/Output3-Rig-Port", "127.0.0.1:4532"},
    });
    m_radioAnswersAtOnce = false;
    start();
    QSignalSpy failures(m_engine.get(), &KeyingEngine::portFailed);
    QCOMPARE(walkChain(steps), timeline);
    QCOMPARE(m_radioAsked.join(QLatin1Char(' ')), asked);
    QCOMPARE(failures.size(), told.isEmpty() ? 0 : 1);
    if (!told.isEmpty())
        QVERIFY(failures.first().first().toString().contains(told));
    QCOMPARE(m_engine->keyedOutputs(), 0);
}

// Output 2 placed against output 1 (RTS of port 2), the footswitch (port 1)
// and an inhibit input on port 5: one adapter's RTS and DTR are two relays
// on one open, both low from it; a supply or a line already driven is
// refused with the clash named, and nothing keys.
void tst_KeyingEngine::shouldShareAnAdapterAndRefuseASupplyOnAnOutput_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("DTR of output 1's adapter") << "2" << "DTR" << "";
    QTest::newRow("the footswitch's port") << "1" << "DTR" << "the footswitch's port";
    QTest::newRow("the inhibit's port") << "5" << "RTS" << "the inhibit input's port";
    QTest::newRow("output 1's own line") << "2" << "RTS" << "output 1 drives the same line";
}

void tst_KeyingEngine::shouldShareAnAdapterAndRefuseASupplyOnAnOutput()
{
    QFETCH(QString, port);
    QFETCH(QString, line);
    QFETCH(QString, refusal);
    m_settings.values.insert({{"Sequence/Output1-Lead", "30"}, {"Sequence/Output2-Kind", "Serial"},
                              {"Sequence/Output2-Port", port}, {"Sequence/Output2-Line", line},
                              {"Inhibit-Line", "DCD"}, {"Inhibit-Port", "5"}, {"Inhibit-Inverted", "1"}});
    m_ports.line(5)->dcd = true; // the inhibit's contact closed: free to key
    QSignalSpy failures(&*(m_engine = std::make_unique<KeyingEngine>(m_ports)), &KeyingEngine::portFailed);
    m_engine->setClock([this] { return m_now * 1000; });
    m_engine->configure(m_settings);
    m_engine->openPorts(QStringLiteral("1"), QStringLiteral("2"));
    settle();
    settle();
    FakeLineState &adapter = out();
    // A lone relay on RTS leaves DTR to the platform, which raises it.
    QVERIFY(adapter.open && !adapter.rts && adapter.dtr == !refusal.isEmpty());
    QCOMPARE(m_ports.log.count(QStringLiteral("open 2 rts=0 dtr=0")), refusal.isEmpty() ? 1 : 0);
    run(QStringLiteral("press"));
    run(QStringLiteral("+30"));
    if (refusal.isEmpty()) {
        QVERIFY(adapter.rts && adapter.dtr);
        run(QStringLiteral("release"));
        QVERIFY(!adapter.rts && !adapter.dtr);
        QCOMPARE(failures.size(), 0);
    } else {
        QVERIFY(!adapter.rts);
        QCOMPARE(m_engine->state(), KeyingEngine::State::OutputUnavailable);
        QTRY_COMPARE(failures.size(), 1);
        QVERIFY2(failures.first().first().toString().contains(refusal), qPrintable(failures.first().first().toString()));
    }
}

void tst_KeyingEngine::shouldHoldOffWhileAnInhibitOnItsOwnPortIsActiveOrUnknown()
{
    m_settings.values.insert({{"Inhibit-Line", "DCD"}, {"Inhibit-Port", "5"}, {"Inhibit-Inverted", "1"}});
    FakeLineState &interlock = *m_ports.line(5);
    interlock.exists = false;
    start();
    QVERIFY(m_engine->isInhibited());
    run(QStringLiteral("press"));
    QVERIFY(!out().rts);
    QCOMPARE(m_engine->notice(), QStringLiteral("Inhibited"));
    // The interlock's port comes, fed like a footswitch, with its contact
    // closed (DCD high, active low): free to key at the next press.
    interlock.exists = interlock.dcd = true;
    settle();
    QTRY_VERIFY(interlock.open);
    QVERIFY(interlock.rts && interlock.dtr);
    QVERIFY(!m_engine->isInhibited());
    run(QStringLiteral("release"));
    run(QStringLiteral("press"));
    QVERIFY(out().rts);
    interlock.dcd = false;
    m_engine->poll();
    QVERIFY(!out().rts);
    QCOMPARE(m_engine->state(), KeyingEngine::State::Released);
}

void tst_KeyingEngine::shouldKeyFromTheChosenLineAndPolarity_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("inverted");
    QTest::addColumn<bool FakeLineState::*>("field");
    QTest::addColumn<bool>("pressed");
    QTest::newRow("CTS") << "CTS" << "0" << &FakeLineState::cts << true;
    QTest::newRow("DSR, normally closed") << "DSR" << "1" << &FakeLineState::dsr << false;
    QTest::newRow("DCD") << "DCD" << "0" << &FakeLineState::dcd << true;
    QTest::newRow("RI, normally closed") << "RI" << "1" << &FakeLineState::ri << false;
    QTest::newRow("unknown text counts as CTS") << "CTX" << "yes" << &FakeLineState::cts << true;
}

void tst_KeyingEngine::shouldKeyFromTheChosenLineAndPolarity()
{
    QFETCH(QString, line);
    QFETCH(QString, inverted);
    QFETCH(bool FakeLineState::*, field);
    QFETCH(bool, pressed);
    m_settings.values.insert(QStringLiteral("Footswitch-Line"), line);
    m_settings.values.insert(QStringLiteral("Footswitch-Inverted"), inverted);
    in().*field = !pressed;
    start();
    // The footswitch is fed from both supply lines.
    QVERIFY(in().rts && in().dtr);
    m_engine->poll();
    QVERIFY(!out().rts);
    in().*field = pressed;
    m_engine->poll();
    QVERIFY(out().rts);
    // Any other line changes nothing.
    in().cts = in().dsr = in().dcd = in().ri = !pressed;
    in().*field = pressed;
    m_engine->poll();
    QVERIFY(out().rts);
    in().*field = !pressed;
    m_engine->poll();
    QVERIFY(!out().rts);
}

void tst_KeyingEngine::shouldCountDownTheLastSecondsBeforeTheTimeOut()
{
    m_settings.values.insert(QStringLiteral("Tx-Timeout"), QStringLiteral("12"));
    start();
    QSignalSpy notices(m_engine.get(), &KeyingEngine::noticeChanged);
    run(QStringLiteral("press"));
    run(QStringLiteral("+7000"));
    for (int ms = 0; ms < 5000; ms += 1000)
        run(QStringLiteral("+1000"));
    run(QStringLiteral("release"));
    QStringList said;
    for (const QList<QVariant> &notice : notices)
        said << notice.first().toString();
    QCOMPARE(said, (QStringList{"Tx time-out in 5 s", "Tx time-out in 4 s", "Tx time-out in 3 s", "Tx time-out in 2 s",
                                "Tx time-out in 1 s",
                                "Tx time-out released the transmitter – release the footswitch", ""}));
}

void tst_KeyingEngine::shouldReadAllFourInputLinesAndLoseTheInputOnAFailedRead()
{
    start();
    in().dsr = in().ri = true;
    QCOMPARE(m_engine->inputLevels(), (KeyingEngine::InputLevels{false, true, false, true}));
    in().refuseReads = true;
    QCOMPARE(m_engine->inputLevels(), std::nullopt);
    QCOMPARE(m_engine->inputSupervisor().state(), PortSupervisor::State::Lost);
}

void tst_KeyingEngine::shouldTellEachFailureOnceAndNotEachRetry()
{
    start();
    QSignalSpy failures(m_engine.get(), &KeyingEngine::portFailed);
    run(QStringLiteral("out-lost"));
    for (int i = 0; i < 3; ++i) {
        m_engine->outputSupervisor().retry();
        settle();
    }
    QCOMPARE(failures.size(), 1);
    QCOMPARE(failures.first().first().toString(),
             QStringLiteral("COM 2: not available. Check for correct Com Port Out.\n\n/dev/fake2"));
    QCOMPARE(m_engine->outputSupervisor().retries(), 3);
    run(QStringLiteral("out-back"));
    QCOMPARE(m_engine->outputSupervisor().state(), PortSupervisor::State::Ready);
    run(QStringLiteral("out-lost"));
    settle();
    QCOMPARE(failures.size(), 2);
}

void tst_KeyingEngine::shouldSpaceRetriesByKindOfPort_data()
{
    QTest::addColumn<bool>("network");
    QTest::addColumn<QList<int>>("delays");
    QTest::newRow("local device, steady") << false << QList<int>{2000, 2000, 2000, 2000};
    QTest::newRow("network, backing off to half a minute")
        << true << QList<int>{1000, 2000, 4000, 8000, 16000, 30000, 30000};
}

void tst_KeyingEngine::shouldSpaceRetriesByKindOfPort()
{
    QFETCH(bool, network);
    QFETCH(QList<int>, delays);
    for (int retry = 1; retry <= delays.size(); ++retry)
        QCOMPARE(PortSupervisor::retryDelayMs(network, retry), delays.at(retry - 1));
}

// An interlock that went away holds the station off, but only until it is
// back: its port is tried again as the footswitch's is, on its own timer.
void tst_KeyingEngine::shouldOpenALostInhibitPortAgain()
{
    m_settings.values.insert({{"Inhibit-Line", "DCD"}, {"Inhibit-Port", "5"}});
    FakeLineState &interlock = *m_ports.line(5);
    start();
    QTRY_VERIFY(interlock.open);
    run(QStringLiteral("lost4"));
    QVERIFY(m_engine->isInhibited());
    run(QStringLiteral("press"));
    QVERIFY(!out().rts);
    interlock.gone = false;
    interlock.exists = true;
    QTRY_VERIFY_WITH_TIMEOUT(interlock.open && !m_engine->isInhibited(), 3 * PortSupervisor::LocalRetryMs);
    run(QStringLiteral("release"));
    run(QStringLiteral("press"));
    QVERIFY(out().rts);
}

// The end of the program, after its event loop: the release walk still runs
// with its tails on the real clock, within a bound, before anything is
// dropped at once; the times are the ports' own.
void tst_KeyingEngine::shouldWalkTheTailsAtTheEndOfTheProgram_data()
{
    QTest::addColumn<int>("tailMs"); // output 1's: how long it outlasts output 2
    QTest::newRow("a short tail") << 50;
    QTest::newRow("a long tail") << 200;
}

void tst_KeyingEngine::shouldWalkTheTailsAtTheEndOfTheProgram()
{
    QFETCH(int, tailMs);
    QElapsedTimer clock;
    clock.start();
    m_ports.clock = &clock;
    m_settings.values.insert({{"Sequence/Output1-Tail", QString::number(tailMs)}, {"Sequence/Output2-Kind", "Serial"},
                              {"Sequence/Output2-Port", "3"}});
    m_engine = std::make_unique<KeyingEngine>(m_ports);
    m_engine->configure(m_settings);
    m_engine->openPorts(QStringLiteral("1"), QStringLiteral("2"));
    QTRY_COMPARE(m_engine->state(), KeyingEngine::State::Released);
    m_engine->operatorKey();
    QTRY_COMPARE(m_engine->keyedOutputs(), 2);
    m_engine->finishShutdown();
    const qint64 gapNs = m_ports.line(2)->rtsWrittenAtNs - m_ports.line(3)->rtsWrittenAtNs;
    QVERIFY2(gapNs >= (tailMs - 1) * 1000000LL, qPrintable(QStringLiteral("output 1 let go %1 ms after output 2").arg(gapNs / 1e6)));
    QVERIFY(!out().rts && !out().open && !m_ports.line(3)->open);
    m_ports.clock = nullptr;
}

QTEST_GUILESS_MAIN(tst_KeyingEngine)
#include "tst_keyingengine.moc"
