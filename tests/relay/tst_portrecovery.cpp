#include "ui/mainwindow/portstatusline.h"
#include "core/portsupervisor.h"
#include "support/mainwindowrig.h"

#include <QTest>

// Ports that fail and come back, through the main window over fake ports.
// Retries are run by hand (PortSupervisor::retry) instead of waiting for
// their timers.
class tst_PortRecovery : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void shouldSpaceRetriesByKindOfPort_data();
    void shouldSpaceRetriesByKindOfPort();

    // the input
    void shouldReleaseAndRetryWhenInputIsUnpluggedWhileHeld();
    void shouldKeyAtNextPressWhenInputComesBack();
    void shouldOpenOutputWhenInputMissingAtActivationComesBack();
    // the output
    void shouldShowReleasedAndTellOnceWhenOutputIsLostWhileKeyed();
    void shouldBringOutputBackReleasedAndKeyOnlyAtNextPress();
    void shouldCloseReportAndRecoverOutputThatRefusesRts();
    // deliberate closing
    void shouldStopRetryingWhileAboutWindowHasThePorts();
    void shouldShowEachPortsStateInTheStateLine();

private:
    void unplug(FakeLineState &line) { line.gone = true; line.exists = false; }
    void plugBackIn(FakeLineState &line) { line.gone = false; line.exists = true; }
    PortRecovery &recovery() { return m_rig->window->recovery(); }
    void press() { m_rig->input().cts = true; m_rig->tick(); }
    void release() { m_rig->input().cts = false; m_rig->tick(); }

    std::unique_ptr<MainWindowRig> m_rig;
};

using State = PortSupervisor::State;

void tst_PortRecovery::init()
{
    m_rig = std::make_unique<MainWindowRig>();
    m_rig->storeWorkingPorts();
}

void tst_PortRecovery::cleanup()
{
    m_rig.reset();
}

void tst_PortRecovery::shouldSpaceRetriesByKindOfPort_data()
{
    QTest::addColumn<bool>("network");
    QTest::addColumn<QList<int>>("delays");
    QTest::newRow("local device, steady") << false << QList<int>{2000, 2000, 2000, 2000};
    QTest::newRow("network, backing off to half a minute")
        << true << QList<int>{1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000};
}

void tst_PortRecovery::shouldSpaceRetriesByKindOfPort()
{
    QFETCH(bool, network);
    QFETCH(QList<int>, delays);
    for (int retry = 1; retry <= delays.size(); ++retry)
        QCOMPARE(PortSupervisor::retryDelayMs(network, retry), delays.at(retry - 1));
}

void tst_PortRecovery::shouldReleaseAndRetryWhenInputIsUnpluggedWhileHeld()
{
    m_rig->start();
    press();
    QVERIFY(m_rig->output().rts);

    unplug(m_rig->input());
    m_rig->tick();
    QVERIFY(!m_rig->output().rts);
    QVERIFY(m_rig->form().Command1->isVisible());
    QCOMPARE(recovery().input().state(), State::Lost);
    QVERIFY(recovery().input().nextRetryInMs() > 0);
    QTRY_COMPARE(m_rig->platform.messages.shown.size(), 1);
    QVERIFY(m_rig->platform.messages.shown.first().startsWith(
        QStringLiteral("COM 1: not available. Check for correct Com Port.")));

    // Still unplugged: another round, no other message.
    recovery().input().retry();
    QTest::qWait(0);
    QCOMPARE(recovery().input().state(), State::Lost);
    QCOMPARE(recovery().input().retries(), 1);
    QCOMPARE(m_rig->platform.messages.shown.size(), 1);
}

void tst_PortRecovery::shouldKeyAtNextPressWhenInputComesBack()
{
    m_rig->start();
    unplug(m_rig->input());
    m_rig->tick();
    plugBackIn(m_rig->input());
    m_rig->input().cts = false;
    m_rig->input().rts = false;
    recovery().input().retry();
    QTRY_COMPARE(recovery().input().state(), State::Ready);
    // The footswitch has its supply again, and the poll goes on.
    QVERIFY(m_rig->input().rts);
    press();
    QVERIFY(m_rig->output().rts);
    release();
    QVERIFY(!m_rig->output().rts);
}

void tst_PortRecovery::shouldOpenOutputWhenInputMissingAtActivationComesBack()
{
    unplug(*m_rig->platform.ports.line(1));
    m_rig->start();
    QCOMPARE(m_rig->platform.messages.shown.size(), 1);
    QVERIFY(!m_rig->platform.ports.line(2)->open);

    plugBackIn(*m_rig->platform.ports.line(1));
    recovery().input().retry();
    QTRY_COMPARE(recovery().output().state(), State::Ready);
    QVERIFY(!m_rig->output().rts);
    press();
    QVERIFY(m_rig->output().rts);
    // Activation told the user; the retries that followed did not.
    QCOMPARE(m_rig->platform.messages.shown.size(), 1);
}

void tst_PortRecovery::shouldShowReleasedAndTellOnceWhenOutputIsLostWhileKeyed()
{
    m_rig->start();
    press();
    QVERIFY(m_rig->form().Command2->isVisible());

    unplug(m_rig->output());
    m_rig->tick();
    // Found between edges, and never shown as keyed while it is not.
    QVERIFY(m_rig->form().Command1->isVisible());
    QVERIFY(m_rig->form().Command2->isHidden());
    QCOMPARE(recovery().output().state(), State::Lost);
    // Not from inside the tick: the chain finishes first.
    QVERIFY(m_rig->platform.messages.shown.isEmpty());
    QTRY_COMPARE(m_rig->platform.messages.shown,
                 QStringList{QStringLiteral("COM 2: not available. Check for correct Com Port Out.\n\n/dev/fake2")});

    release();
    press();
    recovery().output().retry();
    QTest::qWait(0);
    QCOMPARE(m_rig->platform.messages.shown.size(), 1);
}

void tst_PortRecovery::shouldBringOutputBackReleasedAndKeyOnlyAtNextPress()
{
    m_rig->start();
    press();
    unplug(m_rig->output());
    m_rig->tick();

    plugBackIn(m_rig->output());
    m_rig->platform.ports.log.clear();
    recovery().output().retry();
    QTRY_COMPARE(recovery().output().state(), State::Ready);
    QCOMPARE(m_rig->platform.ports.log.first(), QStringLiteral("open 2 rts=0"));
    // The footswitch is still held: nothing keys by itself.
    for (int i = 0; i < 3; ++i)
        m_rig->tick();
    QVERIFY(!m_rig->output().rts);
    QVERIFY(m_rig->form().Command1->isVisible());

    release();
    press();
    QVERIFY(m_rig->output().rts);
    QVERIFY(m_rig->form().Command2->isVisible());
}

void tst_PortRecovery::shouldCloseReportAndRecoverOutputThatRefusesRts()
{
    m_rig->start();
    m_rig->output().refuseRts = true;
    press();
    QVERIFY(!m_rig->platform.ports.line(2)->open);
    QVERIFY(m_rig->form().Command1->isVisible());
    QVERIFY(m_rig->form().Command2->isHidden());
    QTRY_COMPARE(m_rig->platform.messages.shown.size(), 1);

    m_rig->output().refuseRts = false;
    recovery().output().retry();
    QTRY_COMPARE(recovery().output().state(), State::Ready);
    release();
    press();
    QVERIFY(m_rig->output().rts);
    QCOMPARE(m_rig->platform.messages.shown.size(), 1);
}

void tst_PortRecovery::shouldStopRetryingWhileAboutWindowHasThePorts()
{
    m_rig->start();
    unplug(m_rig->output());
    m_rig->tick();
    QVERIFY(recovery().output().nextRetryInMs() > 0);

    recovery().stop();
    QCOMPARE(recovery().output().state(), State::Closed);
    QCOMPARE(recovery().output().nextRetryInMs(), -1);
    plugBackIn(m_rig->output());
    recovery().output().retry();
    QTest::qWait(0);
    QVERIFY(!m_rig->platform.ports.line(2)->open);
}

void tst_PortRecovery::shouldShowEachPortsStateInTheStateLine()
{
    m_rig->start();
    auto *line = m_rig->window->findChild<PortStatusLine *>();
    QVERIFY(line);
    QCOMPARE(line->accessibleName(), QStringLiteral("In Com1 fake1: ready\nOut Com2 fake2: ready"));
    QCOMPARE(m_rig->form().ComboComOut->toolTip(), QStringLiteral("/dev/fake2"));

    unplug(m_rig->output());
    m_rig->tick();
    recovery().output().retry();
    QTest::qWait(0);
    QCOMPARE(line->accessibleName(), QStringLiteral("In Com1 fake1: ready\nOut Com2 fake2: lost – retry 1"));
}

QTEST_MAIN(tst_PortRecovery)
#include "tst_portrecovery.moc"
