#include "support/mainwindowrig.h"

#include <QSignalSpy>
#include <QTest>

// The poll chain as the settings wire it: the line and polarity of the
// footswitch, the debounce, the relay line and the transmit time-out. Time
// is a fake clock that the test moves; each tick is run by hand.
class tst_FootswitchOptions : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // wiring
    void shouldKeyFromTheChosenLineAndPolarity_data();
    void shouldKeyFromTheChosenLineAndPolarity();
    void shouldKeyOnDtrAndHoldRtsLowWithRelayOnDtr();
    void shouldSupplyTheFootswitchFromRtsAndDtr();
    // debounce
    void shouldIgnoreGlitchShorterThanDebounce();
    void shouldKeyOnceForBouncingPressAndReleaseAfterIt();
    // transmit time-out
    void shouldCountDownAndReleaseWhenTimeOutFires();
    void shouldKeepFootswitchFromKeyingUntilReleasedAfterTimeOut();
    void shouldKeyAgainAndTimeAgainOnTxClickAfterTimeOut();
    void shouldLeaveTransmitterKeyedWithTimeOutOff();

private:
    void start(const QMap<QString, QString> &settings);
    void at(qint64 ms) { m_now = ms; m_rig->tick(); }
    FakeLineState &in() { return m_rig->input(); }
    FakeLineState &out() { return m_rig->output(); }
    QString notice() const { return m_notices.isEmpty() ? QString() : m_notices.last(); }

    std::unique_ptr<MainWindowRig> m_rig;
    qint64 m_now = 0;
    QStringList m_notices;
};

void tst_FootswitchOptions::init()
{
    m_rig = std::make_unique<MainWindowRig>();
    m_rig->storeWorkingPorts();
    m_now = 0;
    m_notices.clear();
}

void tst_FootswitchOptions::cleanup()
{
    m_rig.reset();
}

void tst_FootswitchOptions::start(const QMap<QString, QString> &settings)
{
    for (auto it = settings.begin(); it != settings.end(); ++it)
        m_rig->platform.settings.values.insert(it.key(), it.value());
    m_rig->start();
    FootswitchRelay &relay = m_rig->window->relay();
    relay.setClock([this] { return m_now; });
    connect(&relay, &FootswitchRelay::noticeChanged, this, [this](const QString &text) { m_notices.append(text); });
}

void tst_FootswitchOptions::shouldKeyFromTheChosenLineAndPolarity_data()
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

void tst_FootswitchOptions::shouldKeyFromTheChosenLineAndPolarity()
{
    QFETCH(QString, line);
    QFETCH(QString, inverted);
    QFETCH(bool FakeLineState::*, field);
    QFETCH(bool, pressed);
    start({{"Footswitch-Line", line}, {"Footswitch-Inverted", inverted}});
    in().*field = !pressed;
    at(0);
    QVERIFY(!out().rts);
    in().*field = pressed;
    at(100);
    QVERIFY(out().rts);
    // Any other line changes nothing.
    in().cts = in().dsr = in().dcd = in().ri = !pressed;
    in().*field = pressed;
    at(200);
    QVERIFY(out().rts);
    in().*field = !pressed;
    at(300);
    QVERIFY(!out().rts);
}

void tst_FootswitchOptions::shouldKeyOnDtrAndHoldRtsLowWithRelayOnDtr()
{
    start({{"Relay-Line", "DTR"}});
    QVERIFY(!out().dtr);
    in().cts = true;
    at(0);
    QVERIFY(out().dtr);
    QVERIFY(!out().rts);
    QVERIFY(m_rig->form().Command2->isVisible());
    in().cts = false;
    at(100);
    QVERIFY(!out().dtr);
    QVERIFY(!out().rts);
}

void tst_FootswitchOptions::shouldSupplyTheFootswitchFromRtsAndDtr()
{
    start({});
    QVERIFY(in().rts);
    QVERIFY(in().dtr);
    // With the relay on RTS, the output's DTR is left as it was.
    QVERIFY(!m_rig->platform.ports.log.contains(QStringLiteral("dtr 2=0")));
}

void tst_FootswitchOptions::shouldIgnoreGlitchShorterThanDebounce()
{
    start({{"Footswitch-Debounce", "10"}});
    in().cts = true;
    at(1000);
    in().cts = false;
    at(1004);
    at(1010);
    at(1100);
    QCOMPARE(out().rtsWrites, 0);
    QVERIFY(!m_rig->form().Check1->isChecked());
}

void tst_FootswitchOptions::shouldKeyOnceForBouncingPressAndReleaseAfterIt()
{
    start({{"Footswitch-Debounce", "10"}});
    const int writesAtOpen = out().rtsWrites;
    // Contact bounce at the press: several changes within 3 ms.
    for (qint64 t : {1000, 1001, 1002}) {
        in().cts = (t % 2 == 0);
        at(t);
    }
    QVERIFY(!out().rts);
    at(1013); // held high since 1002, for 11 ms now
    QVERIFY(out().rts);
    // ... and at the release: the last level gets through.
    for (qint64 t : {2000, 2001, 2002}) {
        in().cts = (t % 2 != 0);
        at(t);
    }
    at(2009);
    QVERIFY(out().rts);
    at(2013);
    QVERIFY(!out().rts);
    QCOMPARE(out().rtsWrites - writesAtOpen, 2);
}

void tst_FootswitchOptions::shouldCountDownAndReleaseWhenTimeOutFires()
{
    start({{"Tx-Timeout", "30"}});
    in().cts = true;
    at(0);
    QVERIFY(out().rts);
    at(19000);
    QVERIFY(notice().isEmpty());
    at(20500);
    QCOMPARE(notice(), QStringLiteral("Tx time-out in 10 s"));
    at(29100);
    QCOMPARE(notice(), QStringLiteral("Tx time-out in 1 s"));
    at(30000);
    QVERIFY(!out().rts);
    QVERIFY(m_rig->form().Command1->isVisible());
    QVERIFY(m_rig->form().Command2->isHidden());
    QVERIFY(notice().contains(QStringLiteral("release the footswitch")));
    // The lamp still tells the truth: the footswitch is pressed.
    QVERIFY(m_rig->form().Picture1->isVisible());
}

void tst_FootswitchOptions::shouldKeepFootswitchFromKeyingUntilReleasedAfterTimeOut()
{
    start({{"Tx-Timeout", "3"}});
    in().cts = true;
    at(0);
    at(3000);
    QVERIFY(!out().rts);
    for (qint64 t = 3100; t < 10000; t += 100)
        at(t);
    QVERIFY(!out().rts);

    in().cts = false;
    at(10000);
    QVERIFY(notice().isEmpty());
    QVERIFY(!out().rts);
    in().cts = true;
    at(10100);
    QVERIFY(out().rts);
    // Timed afresh from this press.
    at(13000);
    QVERIFY(out().rts);
    at(13100);
    QVERIFY(!out().rts);
}

void tst_FootswitchOptions::shouldKeyAgainAndTimeAgainOnTxClickAfterTimeOut()
{
    start({{"Tx-Timeout", "3"}});
    in().cts = true;
    at(0);
    at(3000);
    QVERIFY(!out().rts);

    m_now = 4000;
    m_rig->form().cmdTx->click();
    QVERIFY(out().rts);
    QVERIFY(notice().isEmpty());
    at(6900);
    QVERIFY(out().rts);
    at(7000);
    QVERIFY(!out().rts);
}

void tst_FootswitchOptions::shouldLeaveTransmitterKeyedWithTimeOutOff()
{
    start({{"Tx-Timeout", "nonsense"}});
    in().cts = true;
    at(0);
    at(4 * 3600 * 1000);
    QVERIFY(out().rts);
    QVERIFY(m_notices.isEmpty());
}

QTEST_MAIN(tst_FootswitchOptions)
#include "tst_footswitchoptions.moc"
