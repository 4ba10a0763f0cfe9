#include "core/catradiooutput.h"
#include "platform/cat/hamlibrig.h"
#include "support/rigtool.h"

#include <QSignalSpy>
#include <QThread>
#include <QTest>

// A radio keyed through Hamlib: its dummy rig in this process, and a real
// rigctld (Debian's libhamlib-utils) on 127.0.0.1, read back through a
// connection of the test's own; and the engine's CAT output, which keeps
// such a rig open like a port.
class tst_CatRig : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_hamlib.start(); }
    void cleanupTestCase()
    {
        m_hamlib.quit();
        m_hamlib.wait();
    }
    void shouldListHamlibsOwnModels();
    void shouldKeyAndReleaseThroughHamlib_data();
    void shouldKeyAndReleaseThroughHamlib();
    void shouldReportARigctldKilledWhileKeyedOnceAndOpenAgainWhenItIsBack();
    void shouldCountARigThatReadsBackOtherwiseAsLost_data();
    void shouldCountARigThatReadsBackOtherwiseAsLost();

private:
    // A rigctld that runs until the process's input ends; its port.
    static int startRigctld(QProcess &process, int port = 0);
    // A rig tool that says "listening PORT" and runs until its input ends.
    static int startListening(QProcess &process, const QStringList &arguments);
    static int pttOf(int port);

    QThread m_hamlib;
};

int tst_CatRig::startRigctld(QProcess &process, int port)
{
    QStringList arguments{QStringLiteral("rigctld")};
    if (port)
        arguments << QStringLiteral("--port") << QString::number(port);
    return startListening(process, arguments);
}

int tst_CatRig::startListening(QProcess &process, const QStringList &arguments)
{
    return startListeningRigTool(process, arguments);
}

int tst_CatRig::pttOf(int port)
{
    QString errors;
    const std::optional<QByteArray> answer = runRigTool({QStringLiteral("rigctld-ptt"), QString::number(port)}, &errors);
    return answer ? answer->trimmed().toInt() : -1;
}

void tst_CatRig::shouldListHamlibsOwnModels()
{
    const QList<RigModel> models = CatRig::models();
    const auto has = [&](int model) {
        return std::any_of(models.cbegin(), models.cend(), [model](const RigModel &m) { return m.model == model; });
    };
    QVERIFY(models.size() > 100);
    QVERIFY(has(RigAddress::dummyModel) && has(RigAddress::rigctldModel));
}

void tst_CatRig::shouldKeyAndReleaseThroughHamlib_data()
{
    QTest::addColumn<bool>("throughRigctld");
    QTest::newRow("dummy rig") << false;
    QTest::newRow("rigctld") << true;
}

void tst_CatRig::shouldKeyAndReleaseThroughHamlib()
{
    QFETCH(bool, throughRigctld);
    QProcess daemon;
    RigAddress address{RigAddress::dummyModel, {}, 0};
    int port = 0;
    if (throughRigctld) {
        port = startRigctld(daemon);
        QVERIFY2(port, qPrintable(daemon.readAllStandardError()));
        address = RigAddress{RigAddress::rigctldModel, QStringLiteral("127.0.0.1:%1").arg(port), 0};
    }
    CatRig rig(m_hamlib);
    QSignalSpy opened(&rig, &CatRig::opened);
    QSignalSpy ptt(&rig, &CatRig::pttSet);
    rig.open(address);
    QTRY_COMPARE(opened.size(), 1);
    QVERIFY2(opened.first().first().toBool(), qPrintable(opened.first().last().toString()));
    for (const bool on : {true, false}) {
        rig.setPtt(on);
        QTRY_COMPARE(ptt.size(), on ? 1 : 2);
        QCOMPARE(ptt.last(), (QList<QVariant>{on}));
        if (throughRigctld)
            QCOMPARE(pttOf(port), int(on));
    }
    daemon.closeWriteChannel();
    daemon.waitForFinished();
}

void tst_CatRig::shouldReportARigctldKilledWhileKeyedOnceAndOpenAgainWhenItIsBack()
{
    QProcess daemon;
    const int port = startRigctld(daemon);
    QVERIFY(port);
    CatRadioOutput radio(m_hamlib, {RigAddress::rigctldModel, QStringLiteral("127.0.0.1:%1").arg(port), 0});
    QSignalSpy ready(&radio, &KeyedOutput::ready);
    QSignalSpy lost(&radio, &KeyedOutput::lost);
    QSignalSpy failed(&radio, &KeyedOutput::failed);
    radio.open();
    QTRY_COMPARE(ready.size(), 1);
    QVERIFY(radio.drive(true));
    QTRY_COMPARE(pttOf(port), 1);

    daemon.closeWriteChannel();
    QVERIFY(daemon.waitForFinished());
    radio.drive(false);
    QTRY_COMPARE(lost.size(), 1);
    QCOMPARE(radio.state(), PortSupervisor::State::Lost);
    // Tried again in the background, and told once, not once per try.
    QTRY_VERIFY_WITH_TIMEOUT(radio.retries() >= 2, 3 * CatRadioOutput::RetryMs + CatRig::AnswerTimeoutMs);
    QCOMPARE(failed.size(), 1);

    QProcess again;
    QCOMPARE(startRigctld(again, port), port);
    QTRY_VERIFY_WITH_TIMEOUT(radio.isReady(), 2 * CatRadioOutput::RetryMs + CatRig::AnswerTimeoutMs);
    // Back released: a rigctld started afresh, and nothing keyed it since.
    QCOMPARE(pttOf(port), 0);
    QCOMPARE(lost.size(), 1);
    QCOMPARE(failed.size(), 1);
    radio.close();
    again.closeWriteChannel();
    again.waitForFinished();
}

// A radio that does not follow: every read of PTT answered with one value by
// a relay in front of rigctld. It never counts as keyed or released on our
// word alone, and its release is sent on the way out.
void tst_CatRig::shouldCountARigThatReadsBackOtherwiseAsLost_data()
{
    QTest::addColumn<int>("reads");
    QTest::addColumn<QString>("error");
    QTest::newRow("keyed, reads off") << 0 << "PTT reads back off after it was set on";
    QTest::newRow("opened, reads on") << 1 << "PTT reads back on after it was set off";
}

void tst_CatRig::shouldCountARigThatReadsBackOtherwiseAsLost()
{
    QFETCH(int, reads);
    QFETCH(QString, error);
    QProcess daemon;
    const int port = startRigctld(daemon);
    QProcess liar;
    const int liarPort = startListening(liar, {QStringLiteral("catrelay"), QString::number(port),
                                               QStringLiteral("--delay-ms"), QStringLiteral("0"),
                                               QStringLiteral("--ptt-reads"), QString::number(reads)});
    QVERIFY(port && liarPort);
    CatRadioOutput radio(m_hamlib, {RigAddress::rigctldModel, QStringLiteral("127.0.0.1:%1").arg(liarPort), 0});
    QSignalSpy failed(&radio, &KeyedOutput::failed);
    QSignalSpy confirmed(&radio, &KeyedOutput::confirmed);
    radio.open();
    if (reads == 0) {
        QTRY_VERIFY(radio.isReady());
        QVERIFY(radio.drive(true));
    }
    QTRY_COMPARE(failed.size(), 1);
    QVERIFY2(failed.first().first().toString().contains(error), qPrintable(failed.first().first().toString()));
    QVERIFY(!radio.isReady());
    QCOMPARE(confirmed.size(), 0);
    QTRY_COMPARE(pttOf(port), 0);
    radio.close();
    liar.closeWriteChannel();
    daemon.closeWriteChannel();
    liar.waitForFinished();
    daemon.waitForFinished();
}

QTEST_GUILESS_MAIN(tst_CatRig)
#include "tst_catrig.moc"
