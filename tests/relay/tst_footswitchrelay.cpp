#include "ui/mainwindow/footswitchrelay.h"
#include "support/mainwindowrig.h"

#include <QTest>

class tst_FootswitchRelay : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // released <-> pressed by the footswitch
    void shouldKeyOnPressAndReleaseOnRelease();
    void shouldWriteRtsOncePerEdgeWhileHeld();
    void shouldReadAgainAfterReportedChangeForLevelThatSettledUnreported();
    // keyed by mouse
    void shouldKeyByMouseWithoutTouchingLamp();
    void shouldStayKeyedByMouseAcrossTicks();
    void shouldEndReleasedAfterFootswitchPressWhileKeyedByMouse();
    void shouldStayReleasedWhenRxIsClickedAgain();
    void shouldIgnoreClicksOnMarkers();
    // failed reads and lost devices
    void shouldChangeNothingWhilePortsAreClosed();
    void shouldReleaseTransmitterWhenInputDeviceIsLost();
    void shouldKeepMouseKeyingWhenInputDeviceIsLost();

private:
    std::unique_ptr<MainWindowRig> m_rig;
    qint64 m_nowMs = 1000;
};

void tst_FootswitchRelay::init()
{
    m_rig = std::make_unique<MainWindowRig>();
    m_rig->storeWorkingPorts();
    m_rig->start();
    m_rig->platform.ports.log.clear();
    m_rig->output().rtsWrites = 0;
}

void tst_FootswitchRelay::cleanup()
{
    m_rig.reset();
}

void tst_FootswitchRelay::shouldKeyOnPressAndReleaseOnRelease()
{
    Ui::ZelvoFootswitch2 &form = m_rig->form();
    m_rig->input().cts = true;
    m_rig->tick();
    QVERIFY(form.Check1->isChecked());
    QVERIFY(form.Picture1->isVisible());
    QVERIFY(form.Command1->isHidden());
    QVERIFY(form.Command2->isVisible());
    QVERIFY(m_rig->output().rts);

    m_rig->input().cts = false;
    m_rig->tick();
    QVERIFY(!form.Check1->isChecked());
    QVERIFY(form.Picture1->isHidden());
    QVERIFY(form.Command1->isVisible());
    QVERIFY(form.Command2->isHidden());
    QVERIFY(!m_rig->output().rts);
    QCOMPARE(m_rig->platform.ports.log, (QStringList{QStringLiteral("rts 2=1"), QStringLiteral("rts 2=0")}));
}

void tst_FootswitchRelay::shouldWriteRtsOncePerEdgeWhileHeld()
{
    m_rig->input().cts = true;
    for (int i = 0; i < 25; ++i)
        m_rig->tick();
    QCOMPARE(m_rig->output().rtsWrites, 1);
    m_rig->input().cts = false;
    for (int i = 0; i < 25; ++i)
        m_rig->tick();
    QCOMPARE(m_rig->output().rtsWrites, 2);
}

// A bouncing contact: the read that a reported change runs finds it back
// where it was, and it settles pressed before the waiting thread waits
// again, so that nobody reports the last change. The relay reads again by
// itself; no poll tick runs here.
void tst_FootswitchRelay::shouldReadAgainAfterReportedChangeForLevelThatSettledUnreported()
{
    FootswitchRelay &relay = m_rig->window->relay();
    FootswitchOptions options = relay.options();
    options.debounceMs = 10;
    relay.configure(options);
    relay.setClock([this] { return m_nowMs; });

    relay.footswitchLineChanged();
    m_rig->input().cts = true;
    // Each look moves the clock on, so that the level can hold for the
    // debounce time.
    QTRY_VERIFY((m_nowMs += 5, m_rig->output().rts));
    QCOMPARE(m_rig->output().rtsWrites, 1);
}

void tst_FootswitchRelay::shouldKeyByMouseWithoutTouchingLamp()
{
    Ui::ZelvoFootswitch2 &form = m_rig->form();
    QTest::mouseClick(form.cmdTx, Qt::LeftButton);
    QVERIFY(m_rig->output().rts);
    QVERIFY(form.Command2->isVisible());
    QVERIFY(form.Command1->isHidden());
    QVERIFY(form.Picture1->isHidden());
    QVERIFY(!form.Check1->isChecked());

    // The "Rx" marker is hidden now, uncovering the plain Rx button.
    QTest::mouseClick(form.cmdRx, Qt::LeftButton);
    QVERIFY(!m_rig->output().rts);
    QVERIFY(form.Command1->isVisible());
}

void tst_FootswitchRelay::shouldStayKeyedByMouseAcrossTicks()
{
    m_rig->form().cmdTx->click();
    for (int i = 0; i < 10; ++i)
        m_rig->tick();
    QVERIFY(m_rig->output().rts);
    QCOMPARE(m_rig->output().rtsWrites, 1);
}

void tst_FootswitchRelay::shouldEndReleasedAfterFootswitchPressWhileKeyedByMouse()
{
    Ui::ZelvoFootswitch2 &form = m_rig->form();
    form.cmdTx->click();
    m_rig->input().cts = true;
    m_rig->tick();
    QVERIFY(form.Picture1->isVisible());
    QVERIFY(m_rig->output().rts);
    m_rig->input().cts = false;
    m_rig->tick();
    QVERIFY(!m_rig->output().rts);
    QVERIFY(form.Command1->isVisible());
    QVERIFY(form.Command2->isHidden());
}

void tst_FootswitchRelay::shouldStayReleasedWhenRxIsClickedAgain()
{
    Ui::ZelvoFootswitch2 &form = m_rig->form();
    form.cmdTx->click();
    form.cmdRx->click();
    form.cmdRx->click();
    QVERIFY(!m_rig->output().rts);
    QVERIFY(form.Command1->isVisible());
    QVERIFY(form.Command2->isHidden());

    // The footswitch has not moved: the ticks leave the output alone.
    const QStringList before = m_rig->platform.ports.log.filter(QStringLiteral("rts 2="));
    for (int i = 0; i < 5; ++i)
        m_rig->tick();
    QCOMPARE(m_rig->platform.ports.log.filter(QStringLiteral("rts 2=")), before);
    QVERIFY(!m_rig->output().rts);
}

void tst_FootswitchRelay::shouldIgnoreClicksOnMarkers()
{
    Ui::ZelvoFootswitch2 &form = m_rig->form();
    QTest::mouseClick(form.Command1, Qt::LeftButton);
    QVERIFY(form.Command1->isVisible());
    form.cmdTx->click();
    QTest::mouseClick(form.Command2, Qt::LeftButton);
    QVERIFY(form.Command2->isVisible());
    QVERIFY(m_rig->output().rts);
    QCOMPARE(m_rig->output().rtsWrites, 1);
}

void tst_FootswitchRelay::shouldChangeNothingWhilePortsAreClosed()
{
    Ui::ZelvoFootswitch2 &form = m_rig->form();
    m_rig->closePorts();
    m_rig->platform.ports.log.clear();
    m_rig->input().cts = true;
    for (int i = 0; i < 5; ++i)
        m_rig->tick();
    QVERIFY(!form.Check1->isChecked());
    QVERIFY(form.Picture1->isHidden());
    QVERIFY(form.Command1->isVisible());
    QVERIFY(m_rig->platform.ports.log.isEmpty());
    QVERIFY(m_rig->platform.messages.shown.isEmpty());
}

void tst_FootswitchRelay::shouldReleaseTransmitterWhenInputDeviceIsLost()
{
    Ui::ZelvoFootswitch2 &form = m_rig->form();
    m_rig->input().cts = true;
    m_rig->tick();
    QVERIFY(m_rig->output().rts);

    // Unplugged with the switch held: nothing would ever release it.
    m_rig->input().gone = true;
    m_rig->tick();
    QVERIFY(!m_rig->output().rts);
    QVERIFY(!form.Check1->isChecked());
    QVERIFY(form.Command1->isVisible());
    QVERIFY(!m_rig->window->MSComm1.isOpen());
    m_rig->tick();
    QCOMPARE(m_rig->output().rtsWrites, 2);
}

void tst_FootswitchRelay::shouldKeepMouseKeyingWhenInputDeviceIsLost()
{
    m_rig->form().cmdTx->click();
    m_rig->input().gone = true;
    m_rig->tick();
    QVERIFY(m_rig->output().rts);
    QVERIFY(!m_rig->window->MSComm1.isOpen());
}


QTEST_MAIN(tst_FootswitchRelay)
#include "tst_footswitchrelay.moc"
