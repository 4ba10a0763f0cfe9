#include "support/mainwindowrig.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // port choice
    void shouldStorePortChosenByKeyboardAndLeaveOpenPortAlone();
    void shouldStorePortChosenFromListByMouse();
    void shouldStoreNothingForTypedText_data();
    void shouldStoreNothingForTypedText();
    // About round trip and activation
    void shouldCloseBothPortsAndShowAboutWindow();
    void shouldOpenNewlyChosenPortOnReturnFromAbout();
    void shouldNotActivateOnReturnFromAnyOtherWindow();
    void shouldBringOpenAboutWindowForward();
    // settings window
    void shouldShowServerCertificateOfOpenPortInSettings_data();
    void shouldShowServerCertificateOfOpenPortInSettings();
    void shouldKeepLastServerCertificateWhenPortsNoLongerTellOne();
    void shouldShowTheLinesAndTestTheRelayChosenOnTheKeyingPage_data();
    void shouldShowTheLinesAndTestTheRelayChosenOnTheKeyingPage();
    // unload
    void shouldWriteFiveSettingsInOrderOnClose();
    void shouldReleaseKeyedOutputOnClose();
    void shouldKeepStoredPortsWhenUnloadedBeforeActivation();
    void shouldDestroyAboutWindowOnExit();
    // help
    void shouldOpenHelpPageInViewer();
    void shouldTellWhereItLookedWhenHelpIsMissing();
    // the outputs' rows
    void shouldShowEveryOutputInARowInsideTheWindow_data();
    void shouldShowEveryOutputInARowInsideTheWindow();
    // keys and the time-out's countdown
    void shouldKeyAndReleaseByKeysAsTheButtonsDo_data();
    void shouldKeyAndReleaseByKeysAsTheButtonsDo();
    void shouldShowTheCountdownOnTheForm();

private:
    static void activate(QWidget *window);
    QString shownPeerSummary() const;

    std::unique_ptr<MainWindowRig> m_rig;
};

void tst_MainWindow::init()
{
    m_rig = std::make_unique<MainWindowRig>();
    m_rig->storeWorkingPorts();
}

void tst_MainWindow::cleanup()
{
    m_rig.reset();
}

void tst_MainWindow::activate(QWidget *window)
{
    window->activateWindow();
    QTRY_COMPARE(QGuiApplication::focusWindow(), window->windowHandle());
}

void tst_MainWindow::shouldStorePortChosenByKeyboardAndLeaveOpenPortAlone()
{
    ZelvoFootswitch2 &window = m_rig->start();
    QComboBox *combo = m_rig->form().ComboComIn;
    m_rig->platform.settings.log.clear();
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(combo, Qt::Key_Down);
    QCOMPARE(combo->currentText(), QStringLiteral("Com5"));
    QCOMPARE(m_rig->platform.settings.values.value(QStringLiteral("ComPort")), QStringLiteral("5"));
    QCOMPARE(m_rig->platform.settings.saves().last(), QStringLiteral("save ComPort=5"));
    QCOMPARE(window.ComPortIn, QStringLiteral("5"));
    // Takes effect at the next activation, not now.
    QCOMPARE(window.MSComm1.portNumber(), qint16(1));
    QVERIFY(window.MSComm1.isOpen());
}

void tst_MainWindow::shouldStorePortChosenFromListByMouse()
{
    ZelvoFootswitch2 &window = m_rig->start();
    QComboBox *combo = m_rig->form().ComboComOut;
    combo->showPopup();
    QAbstractItemView *list = combo->view();
    QTRY_VERIFY(list->isVisible());
    const QRect item = list->visualRect(list->model()->index(6, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, item.center());
    QCOMPARE(window.ComPortOut, QStringLiteral("7"));
    QCOMPARE(m_rig->platform.settings.values.value(QStringLiteral("ComPort2")), QStringLiteral("7"));
    QVERIFY(m_rig->platform.ports.line(2)->open);
}

void tst_MainWindow::shouldStoreNothingForTypedText_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Enter") << int(Qt::Key_Return);
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter);
    QTest::newRow("Tab") << int(Qt::Key_Tab);
}

void tst_MainWindow::shouldStoreNothingForTypedText()
{
    QFETCH(int, key);
    ZelvoFootswitch2 &window = m_rig->start();
    activate(&window);
    QComboBox *combo = m_rig->form().ComboComIn;
    combo->setFocus();
    m_rig->platform.settings.log.clear();
    QLineEdit *field = combo->lineEdit();
    field->selectAll();
    QTest::keyClicks(field, QStringLiteral("Com5"));
    QTest::keyClick(field, Qt::Key(key));
    QVERIFY(m_rig->platform.settings.saves().isEmpty());
    QCOMPARE(window.ComPortIn, QStringLiteral("1"));
    QCOMPARE(combo->count(), 9);
}

void tst_MainWindow::shouldCloseBothPortsAndShowAboutWindow()
{
    ZelvoFootswitch2 &window = m_rig->start();
    m_rig->input().cts = true;
    m_rig->tick();
    m_rig->form().mnuAbout->trigger();
    QVERIFY(!window.MSComm1.isOpen());
    QVERIFY(!window.MSComm2.isOpen());
    QVERIFY(!m_rig->output().rts);
    // Released, and shown so.
    QVERIFY(m_rig->form().Command1->isVisible());
    QVERIFY(!m_rig->form().Command2->isVisible());
    QVERIFY(window.aboutWindow());
    QVERIFY(window.aboutWindow()->isVisible());
    QVERIFY(!window.aboutWindow()->parentWidget());
}

void tst_MainWindow::shouldOpenNewlyChosenPortOnReturnFromAbout()
{
    ZelvoFootswitch2 &window = m_rig->start();
    activate(&window);
    QComboBox *combo = m_rig->form().ComboComIn;
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(combo, Qt::Key_Down);
    m_rig->form().mnuAbout->trigger();
    activate(window.aboutWindow());
    activate(&window);
    QTRY_VERIFY(window.MSComm1.isOpen());
    QCOMPARE(window.MSComm1.portNumber(), qint16(5));
    QVERIFY(m_rig->platform.ports.line(5)->rts);
    QTRY_VERIFY(window.MSComm2.isOpen()); // opened after the input, on a later turn
    QVERIFY(m_rig->platform.messages.shown.isEmpty());
}

void tst_MainWindow::shouldNotActivateOnReturnFromAnyOtherWindow()
{
    ZelvoFootswitch2 &window = m_rig->start();
    activate(&window);
    m_rig->closePorts();
    // Stands for one of the program's message boxes.
    QWidget other;
    other.show();
    activate(&other);
    activate(&window);
    QVERIFY(!window.MSComm1.isOpen());
    QVERIFY(!window.MSComm2.isOpen());
}

void tst_MainWindow::shouldBringOpenAboutWindowForward()
{
    ZelvoFootswitch2 &window = m_rig->start();
    m_rig->form().mnuAbout->trigger();
    QWidget *about = window.aboutWindow();
    m_rig->form().mnuAbout->trigger();
    QCOMPARE(window.aboutWindow(), about);
    QVERIFY(about->isVisible());
}

QString tst_MainWindow::shownPeerSummary() const
{
    SettingsWindow *settings = m_rig->window->settingsWindow();
    if (!settings)
        return QStringLiteral("(no settings window)");
    auto *summary = settings->findChild<QPlainTextEdit *>(QStringLiteral("tlsPeerSummary"));
    return summary ? summary->toPlainText() : QStringLiteral("(no summary field)");
}

void tst_MainWindow::shouldShowServerCertificateOfOpenPortInSettings_data()
{
    QTest::addColumn<QString>("inputSummary");
    QTest::addColumn<QString>("outputSummary");
    QTest::addColumn<QString>("shown");
    QTest::newRow("output on TLS") << "" << "subject: CN=relay" << "subject: CN=relay";
    QTest::newRow("input on TLS") << "subject: CN=footswitch" << "" << "subject: CN=footswitch";
    // The transmitter hangs on the output: its server is the one to check.
    QTest::newRow("both on TLS") << "subject: CN=footswitch" << "subject: CN=relay" << "subject: CN=relay";
    QTest::newRow("neither") << "" << "" << "No connection yet.";
}

void tst_MainWindow::shouldShowServerCertificateOfOpenPortInSettings()
{
    QFETCH(QString, inputSummary);
    QFETCH(QString, outputSummary);
    QFETCH(QString, shown);
    m_rig->platform.ports.line(1)->peerSummary = inputSummary;
    m_rig->platform.ports.line(2)->peerSummary = outputSummary;
    ZelvoFootswitch2 &window = m_rig->start();
    QTRY_VERIFY(window.MSComm1.isOpen() && window.MSComm2.isOpen());
    m_rig->form().mnuSettings->trigger();
    // The ports are closed for the settings window, yet their servers are
    // still known.
    QVERIFY(!window.MSComm1.isOpen());
    QVERIFY(!window.MSComm2.isOpen());
    QCOMPARE(shownPeerSummary(), shown);
}

void tst_MainWindow::shouldKeepLastServerCertificateWhenPortsNoLongerTellOne()
{
    m_rig->platform.ports.line(2)->peerSummary = QStringLiteral("subject: CN=relay");
    ZelvoFootswitch2 &window = m_rig->start();
    QTRY_VERIFY(window.MSComm2.isOpen());
    m_rig->form().mnuSettings->trigger();
    QCOMPARE(shownPeerSummary(), QStringLiteral("subject: CN=relay"));

    // Back from the settings: the output now leads to a plain port.
    m_rig->platform.ports.line(2)->peerSummary.clear();
    window.settingsWindow()->reject();
    QTRY_VERIFY(!window.settingsWindow());
    QTRY_VERIFY(window.MSComm1.isOpen() && window.MSComm2.isOpen());
    m_rig->form().mnuSettings->trigger();
    QCOMPARE(shownPeerSummary(), QStringLiteral("subject: CN=relay"));
}

void tst_MainWindow::shouldShowTheLinesAndTestTheRelayChosenOnTheKeyingPage_data()
{
    QTest::addColumn<int>("relayLine"); // the page's choice, not saved: 0 RTS, 1 DTR
    QTest::addColumn<bool FakeLineState::*>("keyed");
    QTest::newRow("RTS as stored") << 0 << &FakeLineState::rts;
    QTest::newRow("DTR chosen on the page") << 1 << &FakeLineState::dtr;
}

void tst_MainWindow::shouldShowTheLinesAndTestTheRelayChosenOnTheKeyingPage()
{
    QFETCH(int, relayLine);
    QFETCH(bool FakeLineState::*, keyed);
    ZelvoFootswitch2 &window = m_rig->start();
    m_rig->input().dsr = true;
    m_rig->form().mnuSettings->trigger();
    SettingsWindow *settings = window.settingsWindow();
    settings->findChild<QTabWidget *>(QStringLiteral("settingsTabs"))->setCurrentIndex(2);
    settings->findChild<QComboBox *>(QStringLiteral("relayLine"))->setCurrentIndex(relayLine);
    m_rig->settle();
    QVERIFY(m_rig->engine.isOpenForWiring());
    QVERIFY(m_rig->input().rts && m_rig->input().dtr);
    QTRY_COMPARE(settings->findChild<QLabel *>(QStringLiteral("dsrLamp"))->property("lit"), 1);
    QCOMPARE(settings->findChild<QLabel *>(QStringLiteral("ctsLamp"))->property("lit"), 0);
    // The footswitch keys nothing here; the relay test does, for a second.
    m_rig->input().cts = true;
    m_rig->tick();
    QVERIFY(!(m_rig->output().*keyed));
    settings->findChild<QPushButton *>(QStringLiteral("testRelay"))->click();
    QCOMPARE(m_rig->platform.messages.asked.size(), 1);
    QVERIFY(m_rig->output().*keyed);
    QTRY_VERIFY_WITH_TIMEOUT(!(m_rig->output().*keyed), 2 * KeyingEngine::RelayTestMs);

    settings->reject();
    QTRY_VERIFY(window.MSComm1.isOpen() && window.MSComm2.isOpen());
    QVERIFY(!m_rig->engine.isOpenForWiring());
    QVERIFY(!m_rig->platform.settings.values.contains(QStringLiteral("Relay-Line")));
}

void tst_MainWindow::shouldWriteFiveSettingsInOrderOnClose()
{
    ZelvoFootswitch2 &window = m_rig->start();
    window.move(200, 100);
    m_rig->platform.settings.log.clear();
    m_rig->form().mnuExit->trigger();
    QCOMPARE(m_rig->platform.settings.saves(), (QStringList{
                                                  QStringLiteral("save Position-Left=3000"),
                                                  QStringLiteral("save Position-Top=1500"),
                                                  QStringLiteral("save OnTop=0"),
                                                  QStringLiteral("save ComPort=1"),
                                                  QStringLiteral("save ComPort2=2"),
                                              }));
    QVERIFY(window.isHidden());
}

void tst_MainWindow::shouldReleaseKeyedOutputOnClose()
{
    ZelvoFootswitch2 &window = m_rig->start();
    m_rig->form().cmdTx->click();
    window.close();
    QVERIFY(!m_rig->output().rts);
    QVERIFY(!m_rig->output().open);
    QVERIFY(!m_rig->input().open);
}

void tst_MainWindow::shouldKeepStoredPortsWhenUnloadedBeforeActivation()
{
    m_rig->platform.settings.values.insert(QStringLiteral("ComPort"), QStringLiteral("4"));
    m_rig->platform.settings.values.insert(QStringLiteral("ComPort2"), QStringLiteral("6"));
    ZelvoFootswitch2 window(m_rig->platform.services(), m_rig->engine);
    window.Form_Unload();
    QCOMPARE(m_rig->platform.settings.values.value(QStringLiteral("ComPort")), QStringLiteral("4"));
    QCOMPARE(m_rig->platform.settings.values.value(QStringLiteral("ComPort2")), QStringLiteral("6"));
}

void tst_MainWindow::shouldDestroyAboutWindowOnExit()
{
    ZelvoFootswitch2 &window = m_rig->start();
    m_rig->form().mnuAbout->trigger();
    QPointer<QWidget> about = window.aboutWindow();
    QVERIFY(about);
    m_rig->form().mnuExit->trigger();
    QVERIFY(!about);
    QCOMPARE(m_rig->platform.settings.saves().last(), QStringLiteral("save ComPort2=2"));
}

void tst_MainWindow::shouldOpenHelpPageInViewer()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("share/zelvo-footswitch2/help")));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("bin")));
    const QString page = dir.filePath(QStringLiteral("share/zelvo-footswitch2/help/index.html"));
    QFile file(page);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    ZelvoFootswitch2 &window = m_rig->start();
    window.setHelpLocator(HelpLocator::forProgramIn(dir.filePath(QStringLiteral("bin"))));
    m_rig->form().mnuIndex->trigger();
    QCOMPARE(m_rig->platform.help.shown.size(), 1);
    QCOMPARE(QFileInfo(m_rig->platform.help.shown.first()).canonicalFilePath(), QFileInfo(page).canonicalFilePath());
    QVERIFY(m_rig->platform.messages.shown.isEmpty());
}

void tst_MainWindow::shouldTellWhereItLookedWhenHelpIsMissing()
{
    QTemporaryDir dir;
    ZelvoFootswitch2 &window = m_rig->start();
    window.setHelpLocator(HelpLocator::forProgramIn(dir.path()));
    m_rig->form().mnuIndex->trigger();
    QVERIFY(m_rig->platform.help.shown.isEmpty());
    QCOMPARE(m_rig->platform.messages.shown.size(), 1);
    QVERIFY(m_rig->platform.messages.shown.first().contains(QStringLiteral("index.html")));
}

void tst_MainWindow::shouldShowEveryOutputInARowInsideTheWindow_data()
{
    QTest::addColumn<QStringList>("more"); // outputs 2.. : a port number, or "CAT"
    QTest::addColumn<QStringList>("rows"); // lamp, name: state
    const QStringList two{"released 1 Com2: ready", "released 2 Com3: ready"};
    QTest::newRow("1") << QStringList{} << two.mid(0, 1);
    QTest::newRow("2") << QStringList{"3"} << two;
    QTest::newRow("3, one absent") << QStringList{"3", "5"} << two + QStringList{"not ready 3 Com5: not available – retrying"};
    QTest::newRow("4, a radio") << QStringList{"3", "4", "CAT"}
                                << two + QStringList{"released 3 Com4: ready",
                                                     "released 4 CAT fake: ready"};
}

void tst_MainWindow::shouldShowEveryOutputInARowInsideTheWindow()
{
    QFETCH(QStringList, more);
    QFETCH(QStringList, rows);
    // The form's controls as placed in the window.
    const auto controls = [](ZelvoFootswitch2 &window) {
        QList<QRect> rects;
        for (QWidget *control : window.form().centralwidget->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            if (control->objectName() != QLatin1String("OutputStateRows"))
                rects.append({control->mapTo(&window, QPoint()), control->size()});
        return rects;
    };
    MainWindowRig single;
    single.storeWorkingPorts();
    const QList<QRect> oneOutput = controls(single.start());
    for (int n = 2; n <= more.size() + 1; ++n) {
        const QString key = QStringLiteral("Sequence/Output%1-").arg(n), port = more.at(n - 2);
        m_rig->platform.settings.values.insert(key + "Kind", port == "CAT" ? "CAT" : "Serial");
        m_rig->platform.settings.values.insert(key + (port == "CAT" ? "Rig-Port" : "Port"), port == "CAT" ? "127.0.0.1" : port);
        m_rig->platform.settings.values.insert(key + "Rig-Model", "2");
    }
    m_rig->platform.ports.line(5)->exists = false;
    ZelvoFootswitch2 &window = m_rig->start();
    QCOMPARE(controls(window), oneOutput);
    QCOMPARE(window.findChildren<QLabel *>(QRegularExpression("^outputName")).size(), rows.size());
    for (qsizetype row = 0; row < rows.size(); ++row) {
        const auto label = [&](const char *part) {
            return window.findChild<QLabel *>(QStringLiteral("output%1%2").arg(part).arg(row + 1));
        };
        const QString shown = label("Lamp")->accessibleName() + ' ' + label("Name")->accessibleName() + ": ";
        QCOMPARE(shown + label("State")->accessibleName(), rows.at(row));
        QCOMPARE(shown + label("State")->text(), rows.at(row)); // the state is never cut
        for (QLabel *part : {label("Lamp"), label("Name"), label("State")})
            QVERIFY(window.centralWidget()->geometry().contains(QRect(part->mapTo(&window, QPoint()), part->size())));
    }
    // Cut back to output 1 while the ports stay open: nothing but the
    // activation tells of the new chain.
    m_rig->platform.settings.values.removeIf([](auto value) { return value.key().startsWith("Sequence/"); });
    m_rig->activate();
    QCOMPARE(window.findChildren<QLabel *>(QRegularExpression("^outputName")).size(), 1);
    QCOMPARE(window.height(), single.window->height());
}

void tst_MainWindow::shouldKeyAndReleaseByKeysAsTheButtonsDo_data()
{
    QTest::addColumn<bool>("keyedBefore");
    QTest::addColumn<QKeyCombination>("key");
    QTest::addColumn<bool>("keyedAfter");
    QTest::newRow("Ctrl+T keys") << false << (Qt::CTRL | Qt::Key_T) << true;
    QTest::newRow("Ctrl+R releases") << true << (Qt::CTRL | Qt::Key_R) << false;
    QTest::newRow("Esc releases") << true << QKeyCombination(Qt::Key_Escape) << false;
    QTest::newRow("T alone keys nothing") << false << QKeyCombination(Qt::Key_T) << false;
    QTest::newRow("R alone releases nothing") << true << QKeyCombination(Qt::Key_R) << true;
}

void tst_MainWindow::shouldKeyAndReleaseByKeysAsTheButtonsDo()
{
    QFETCH(bool, keyedBefore);
    QFETCH(QKeyCombination, key);
    QFETCH(bool, keyedAfter);
    ZelvoFootswitch2 &window = m_rig->start();
    activate(&window);
    if (keyedBefore)
        m_rig->form().cmdTx->click();
    QCOMPARE(m_rig->output().rts, keyedBefore);
    QTest::keyClick(&window, key.key(), key.keyboardModifiers());
    QCOMPARE(m_rig->output().rts, keyedAfter);
    QCOMPARE(m_rig->engine.state() == KeyingEngine::State::KeyedByOperator, keyedAfter);
}

void tst_MainWindow::shouldShowTheCountdownOnTheForm()
{
    ZelvoFootswitch2 &window = m_rig->start();
    QLabel *countdown = window.timeoutCountdown();
    window.showTimeoutCountdown(7);
    QVERIFY(countdown->isVisible());
    QCOMPARE(countdown->text(), QStringLiteral("Tx time-out in 7 s"));
    // Inside the form at its default size, not under the menu or the state line.
    QVERIFY(window.centralWidget()->rect().contains(countdown->geometry()));
    window.showTimeoutCountdown(0);
    QVERIFY(!countdown->isVisible());
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
