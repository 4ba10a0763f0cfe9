#include "support/mainwindowrig.h"

#include <QLabel>
#include <QTabWidget>
#include <QTest>

class tst_ActivationSequence : public QObject
{
    Q_OBJECT

private slots:
    // settings
    void shouldWriteDefaultsOnCleanStore();
    void shouldRewriteInvalidValuesWithDefaults_data();
    void shouldRewriteInvalidValuesWithDefaults();
    void shouldShowAndSelectStoredPorts();
    // ports
    void shouldReportOutputPortOnCleanStore();
    void shouldReportMissingInputPortAndLeaveOutputAlone();
    void shouldNameUnusablePortTextAsStored();
    void shouldOpenBothPortsAndShowReleasedState();
    void shouldKeepPortsThatAreStillOpen();
    void shouldBringOutputBackReleasedAfterMouseKeying();
    void shouldReleaseHeldFootswitchAndPickItUpAtNextTick();
    void shouldLetTickDuringOutputMessageChangeOnlyTheLamp();
    void shouldOpenNoPortAtFirstStartUntilPortsPageCloses();
    void shouldShowNoPermissionForDeviceThatTurnsUpRefusing();
    // window
    void shouldRestoreOnTopFromStore();
    void shouldTreatGreyedOnTopAsNotOnTopAndLetClicksOnlyCheckOrUncheck();
    void shouldReturnToStoredPositionOnReactivation();
    void shouldPlaceWindowOnScreenWhenStoredPositionIsOffScreen();
};

void tst_ActivationSequence::shouldWriteDefaultsOnCleanStore()
{
    MainWindowRig rig;
    rig.start();
    const QPoint position = rig.window->frameGeometry().topLeft();
    const QStringList expected = {
        QStringLiteral("save Position-Left=%1").arg(position.x() * 15),
        QStringLiteral("save Position-Top=%1").arg(position.y() * 15),
        QStringLiteral("save OnTop=0"),
        QStringLiteral("save ComPort=1"),
        QStringLiteral("save ComPort2=1"),
    };
    QCOMPARE(rig.platform.settings.saves(), expected);
}

void tst_ActivationSequence::shouldRewriteInvalidValuesWithDefaults_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("rewritten");
    QTest::newRow("empty port") << "ComPort" << "" << "1";
    QTest::newRow("empty output port") << "ComPort2" << "" << "1";
    QTest::newRow("empty on-top") << "OnTop" << "" << "0";
    QTest::newRow("on-top out of range") << "OnTop" << "5" << "0";
    QTest::newRow("on-top word") << "OnTop" << "yes" << "0";
}

void tst_ActivationSequence::shouldRewriteInvalidValuesWithDefaults()
{
    QFETCH(QString, key);
    QFETCH(QString, stored);
    QFETCH(QString, rewritten);
    MainWindowRig rig;
    rig.storeWorkingPorts();
    rig.platform.settings.values.insert(key, stored);
    rig.start();
    QVERIFY2(rig.platform.settings.saves().contains(QStringLiteral("save %1=%2").arg(key, rewritten)),
             qPrintable(rig.platform.settings.saves().join(QLatin1Char('\n'))));
}

void tst_ActivationSequence::shouldShowAndSelectStoredPorts()
{
    MainWindowRig rig;
    rig.platform.settings.values.insert(QStringLiteral("ComPort"), QStringLiteral("7"));
    rig.platform.settings.values.insert(QStringLiteral("ComPort2"), QStringLiteral("3"));
    ZelvoFootswitch2 &window = rig.start();
    QCOMPARE(rig.form().ComboComIn->currentText(), QStringLiteral("Com7"));
    QCOMPARE(rig.form().ComboComOut->currentText(), QStringLiteral("Com3"));
    QCOMPARE(window.ComPortIn, QStringLiteral("7"));
    QCOMPARE(window.MSComm1.portNumber(), qint16(7));
    QVERIFY(rig.platform.ports.line(7)->open);
    QVERIFY(rig.platform.ports.line(3)->open);
}

void tst_ActivationSequence::shouldReportOutputPortOnCleanStore()
{
    MainWindowRig rig;
    ZelvoFootswitch2 &window = rig.start();
    // Both ports default to 1: the input takes it, the output cannot.
    QCOMPARE(rig.platform.messages.shown,
             QStringList{QStringLiteral("COM 1: not available. Check for correct Com Port Out.\n\n"
                                         "/dev/fake1: not available")});
    QVERIFY(window.MSComm1.isOpen());
    QVERIFY(!window.MSComm2.isOpen());
    QVERIFY(rig.platform.ports.line(1)->rts);
    // The sequence ended before the markers.
    QVERIFY(rig.form().Command1->isHidden());
    QVERIFY(rig.form().Command2->isHidden());
}

void tst_ActivationSequence::shouldReportMissingInputPortAndLeaveOutputAlone()
{
    MainWindowRig rig;
    rig.platform.settings.values.insert(QStringLiteral("ComPort"), QStringLiteral("4"));
    rig.platform.settings.values.insert(QStringLiteral("ComPort2"), QStringLiteral("5"));
    rig.platform.ports.line(4)->exists = false;
    ZelvoFootswitch2 &window = rig.start();
    QCOMPARE(rig.platform.messages.shown,
             QStringList{QStringLiteral("COM 4: not available. Check for correct Com Port.\n\n"
                                         "/dev/fake4: not available")});
    QVERIFY(!window.MSComm1.isOpen());
    QVERIFY(!window.MSComm2.isOpen());
    QVERIFY(!rig.platform.ports.log.join(QLatin1Char(' ')).contains(QStringLiteral(" 5")));
}

void tst_ActivationSequence::shouldNameUnusablePortTextAsStored()
{
    MainWindowRig rig;
    rig.platform.settings.values.insert(QStringLiteral("ComPort"), QStringLiteral("1"));
    rig.platform.settings.values.insert(QStringLiteral("ComPort2"), QStringLiteral("12"));
    rig.start();
    QCOMPARE(rig.platform.messages.shown,
             QStringList{QStringLiteral("COM 12: not available. Check for correct Com Port Out.")});
}

void tst_ActivationSequence::shouldOpenBothPortsAndShowReleasedState()
{
    MainWindowRig rig;
    rig.storeWorkingPorts();
    ZelvoFootswitch2 &window = rig.start();
    QVERIFY(rig.platform.messages.shown.isEmpty());
    QVERIFY(window.MSComm1.isOpen());
    QVERIFY(window.MSComm2.isOpen());
    QVERIFY(rig.input().rts);   // supply for the footswitch
    QVERIFY(!rig.output().rts); // transmitter released
    QVERIFY(rig.form().Command1->isVisible());
    QVERIFY(rig.form().Command2->isHidden());
    QVERIFY(!rig.form().Check1->isChecked());
}

void tst_ActivationSequence::shouldKeepPortsThatAreStillOpen()
{
    MainWindowRig rig;
    rig.storeWorkingPorts();
    ZelvoFootswitch2 &window = rig.start();
    rig.platform.ports.log.clear();
    window.activation().run();
    QVERIFY(rig.platform.messages.shown.isEmpty());
    QVERIFY(!rig.platform.ports.log.join(QLatin1Char(' ')).contains(QStringLiteral("open")));
    QVERIFY(window.MSComm1.isOpen());
    QVERIFY(window.MSComm2.isOpen());
}

void tst_ActivationSequence::shouldBringOutputBackReleasedAfterMouseKeying()
{
    MainWindowRig rig;
    rig.storeWorkingPorts();
    ZelvoFootswitch2 &window = rig.start();
    rig.form().cmdTx->click();
    QVERIFY(rig.output().rts);
    rig.closePorts();
    rig.activate();
    // "Rx" is shown, so the line must be released too.
    QVERIFY(rig.form().Command1->isVisible());
    QVERIFY(window.MSComm2.isOpen());
    QVERIFY(!rig.output().rts);
    QVERIFY(rig.platform.ports.log.contains(QStringLiteral("open 2 rts=0")));
}

void tst_ActivationSequence::shouldReleaseHeldFootswitchAndPickItUpAtNextTick()
{
    MainWindowRig rig;
    rig.storeWorkingPorts();
    rig.start();
    rig.input().cts = true;
    rig.tick();
    QVERIFY(rig.output().rts);
    rig.activate();
    QVERIFY(!rig.form().Check1->isChecked());
    QVERIFY(!rig.output().rts);
    rig.tick();
    QVERIFY(rig.output().rts);
    QVERIFY(rig.form().Command2->isVisible());
}

void tst_ActivationSequence::shouldLetTickDuringOutputMessageChangeOnlyTheLamp()
{
    MainWindowRig rig;
    rig.platform.settings.values.insert(QStringLiteral("ComPort"), QStringLiteral("1"));
    rig.platform.settings.values.insert(QStringLiteral("ComPort2"), QStringLiteral("1"));
    rig.platform.ports.line(1)->cts = true;
    rig.platform.messages.whileShown = [&] { rig.tick(); };
    ZelvoFootswitch2 &window = rig.start();
    // The tick saw the switch held: the lamp follows it, but with the output
    // closed nothing is keyed, not even for its next open, and no second
    // message comes.
    QCOMPARE(rig.platform.messages.shown.size(), 1);
    QVERIFY(rig.form().Check1->isChecked());
    QVERIFY(!rig.form().Command2->isVisible());
    QVERIFY(!window.MSComm2.isOpen());
    QVERIFY(!window.MSComm2.rtsEnabled());
    QCOMPARE(rig.platform.ports.log.filter(QStringLiteral("open")).size(), 2);
}

void tst_ActivationSequence::shouldOpenNoPortAtFirstStartUntilPortsPageCloses()
{
    MainWindowRig rig;
    rig.platform.settings.present = false;
    ZelvoFootswitch2 &window = rig.start();
    QVERIFY(rig.platform.ports.log.isEmpty() && rig.platform.settings.saves().isEmpty());
    SettingsWindow *settings = window.settingsWindow();
    QCOMPARE(settings->findChild<QTabWidget *>()->currentWidget()->objectName(), QStringLiteral("stationPage"));
    QVERIFY(settings->findChild<QLabel *>(QStringLiteral("stationGuidance"))->isVisible());
    // Cancelled, nothing was chosen: still nothing opens.
    settings->reject();
    rig.settle();
    QVERIFY(rig.platform.ports.log.isEmpty());
    // Chosen (the file is written): the ports open.
    window.findChild<QAction *>(QStringLiteral("mnuSettings"))->trigger();
    rig.platform.settings.present = true;
    window.settingsWindow()->accept();
    QTRY_VERIFY(window.MSComm1.isOpen());
}

void tst_ActivationSequence::shouldShowNoPermissionForDeviceThatTurnsUpRefusing()
{
    MainWindowRig rig;
    rig.storeWorkingPorts();
    rig.platform.ports.line(1)->exists = false;
    rig.platform.ports.line(1)->denied = true;
    ZelvoFootswitch2 &window = rig.start();
    rig.platform.ports.line(1)->exists = true;
    window.engine().inputSupervisor().retry();
    rig.settle();
    const QString state = window.findChild<QLabel *>(QStringLiteral("PortStatusLine"))->accessibleName();
    QVERIFY2(state.startsWith(QStringLiteral("In Com1 fake1: no permission – retry 1")), qPrintable(state));
    QCOMPARE(rig.platform.messages.shown.filter(QStringLiteral("/dev/fake1: no permission")).size(), 1);
}

void tst_ActivationSequence::shouldRestoreOnTopFromStore()
{
    MainWindowRig rig;
    rig.storeWorkingPorts();
    rig.platform.settings.values.insert(QStringLiteral("OnTop"), QStringLiteral("1"));
    rig.start();
    QCOMPARE(rig.form().chkOnTop->checkState(), Qt::Checked);
    // However often it was set on the way, the window ends up on top.
    QCOMPARE(rig.platform.stacking.calls.value(rig.platform.stacking.calls.size() - 1), true);
    QCOMPARE(rig.platform.settings.saves().filter(QStringLiteral("OnTop")), QStringList{QStringLiteral("save OnTop=1")});
}

void tst_ActivationSequence::shouldTreatGreyedOnTopAsNotOnTopAndLetClicksOnlyCheckOrUncheck()
{
    MainWindowRig rig;
    rig.storeWorkingPorts();
    rig.platform.settings.values.insert(QStringLiteral("OnTop"), QStringLiteral("2"));
    rig.start();
    QCOMPARE(rig.form().chkOnTop->checkState(), Qt::PartiallyChecked);
    QVERIFY(!rig.platform.stacking.calls.contains(true));
    QCOMPARE(rig.platform.settings.saves().filter(QStringLiteral("OnTop")), QStringList{QStringLiteral("save OnTop=2")});

    rig.platform.settings.log.clear();
    rig.platform.stacking.calls.clear();
    QTest::mouseClick(rig.form().chkOnTop, Qt::LeftButton);
    QTest::mouseClick(rig.form().chkOnTop, Qt::LeftButton);
    QTest::mouseClick(rig.form().chkOnTop, Qt::LeftButton);
    QCOMPARE(rig.platform.stacking.calls, (QList<bool>{true, false, true}));
    QCOMPARE(rig.platform.settings.saves(),
             (QStringList{QStringLiteral("save OnTop=1"), QStringLiteral("save OnTop=0"), QStringLiteral("save OnTop=1")}));
}

void tst_ActivationSequence::shouldReturnToStoredPositionOnReactivation()
{
    MainWindowRig rig;
    rig.storeWorkingPorts();
    rig.platform.settings.values.insert(QStringLiteral("Position-Left"), QStringLiteral("3000"));
    rig.platform.settings.values.insert(QStringLiteral("Position-Top"), QStringLiteral("1500"));
    ZelvoFootswitch2 &window = rig.start();
    QCOMPARE(window.frameGeometry().topLeft(), QPoint(200, 100));
    window.move(300, 250);
    rig.closePorts();
    window.activation().run();
    QCOMPARE(window.frameGeometry().topLeft(), QPoint(200, 100));
}

void tst_ActivationSequence::shouldPlaceWindowOnScreenWhenStoredPositionIsOffScreen()
{
    MainWindowRig rig;
    rig.storeWorkingPorts();
    rig.platform.settings.values.insert(QStringLiteral("Position-Left"), QStringLiteral("-900000"));
    rig.platform.settings.values.insert(QStringLiteral("Position-Top"), QStringLiteral("3000"));
    ZelvoFootswitch2 &window = rig.start();
    const QRect screen = window.screen()->geometry();
    QVERIFY2(screen.intersects(window.frameGeometry()), qPrintable(QStringLiteral("%1,%2").arg(window.x()).arg(window.y())));
}

QTEST_MAIN(tst_ActivationSequence)
#include "tst_activationsequence.moc"
