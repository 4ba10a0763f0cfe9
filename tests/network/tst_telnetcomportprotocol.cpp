#include "platform/net/telnetcomportprotocol.h"

#include <QTest>

using P = TelnetComPortProtocol;

namespace {
QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (const int value : values)
        result.append(char(value));
    return result;
}

QByteArray modemState(int state)
{
    return bytes({P::Iac, P::Sb, P::OptionComPort, 107, state, P::Iac, P::Se});
}
}

class TestTelnetComPortProtocol : public QObject
{
    Q_OBJECT

private slots:
    void shouldAskForComPortControlFirst()
    {
        P protocol;
        protocol.requestComPortControl();
        QCOMPARE(protocol.takeOutgoing(), bytes({P::Iac, P::Will, 44}));
        QVERIFY(!protocol.comPortAccepted());
    }

    void shouldTakeTheServersDoAsConfirmationWithoutAnswering()
    {
        P protocol;
        protocol.requestComPortControl();
        protocol.takeOutgoing();
        protocol.receive(bytes({P::Iac, P::Do, 44}));
        QVERIFY(protocol.comPortAccepted());
        QVERIFY(protocol.takeOutgoing().isEmpty());
    }

    void shouldNoticeARefusalOfComPortControl()
    {
        P protocol;
        protocol.requestComPortControl();
        protocol.takeOutgoing();
        protocol.receive(bytes({P::Iac, P::Dont, 44}));
        QVERIFY(protocol.comPortRefused());
        QVERIFY(!protocol.comPortAccepted());
        QVERIFY(protocol.takeOutgoing().isEmpty());
    }

    void shouldTakeComPortControlOfferedAfterARefusal()
    {
        P protocol;
        protocol.requestComPortControl();
        protocol.takeOutgoing();
        protocol.receive(bytes({P::Iac, P::Dont, 44, P::Iac, P::Do, 44}));
        QVERIFY(protocol.comPortAccepted());
        QVERIFY(!protocol.comPortRefused());
        QCOMPARE(protocol.takeOutgoing(), bytes({P::Iac, P::Will, 44}));
    }

    void shouldAcceptBinaryAndSuppressGoAheadFromTheServer()
    {
        P protocol;
        protocol.receive(bytes({P::Iac, P::Will, P::OptionSuppressGoAhead, P::Iac, P::Do, P::OptionBinary,
                                P::Iac, P::Will, P::OptionBinary}));
        QCOMPARE(protocol.takeOutgoing(), bytes({P::Iac, P::Do, P::OptionSuppressGoAhead, P::Iac, P::Will,
                                                 P::OptionBinary, P::Iac, P::Do, P::OptionBinary}));
        QVERIFY(protocol.isEnabledRemotely(P::OptionSuppressGoAhead));
        QVERIFY(protocol.isEnabledLocally(P::OptionBinary));
    }

    void shouldRefuseOptionsItDoesNotSupport()
    {
        P protocol;
        // ECHO, terminal type, NAWS.
        protocol.receive(bytes({P::Iac, P::Will, 1, P::Iac, P::Do, 24, P::Iac, P::Do, 31}));
        QCOMPARE(protocol.takeOutgoing(), bytes({P::Iac, P::Dont, 1, P::Iac, P::Wont, 24, P::Iac, P::Wont, 31}));
        QVERIFY(!protocol.isEnabledRemotely(1));
        QVERIFY(!protocol.isEnabledLocally(24));
    }

    void shouldAnswerARepeatedRequestOnlyOnce()
    {
        // A server that repeats WILL SGA must not start a WILL/DO ping-pong.
        P protocol;
        protocol.receive(bytes({P::Iac, P::Will, P::OptionSuppressGoAhead}));
        protocol.takeOutgoing();
        protocol.receive(bytes({P::Iac, P::Will, P::OptionSuppressGoAhead, P::Iac, P::Will, P::OptionSuppressGoAhead}));
        QVERIFY(protocol.takeOutgoing().isEmpty());
    }

    void shouldConfirmTheServerTurningAnOptionOff()
    {
        P protocol;
        protocol.receive(bytes({P::Iac, P::Will, P::OptionSuppressGoAhead}));
        protocol.takeOutgoing();
        protocol.receive(bytes({P::Iac, P::Wont, P::OptionSuppressGoAhead}));
        QCOMPARE(protocol.takeOutgoing(), bytes({P::Iac, P::Dont, P::OptionSuppressGoAhead}));
        // Its confirmation of our confirmation is not answered again.
        protocol.receive(bytes({P::Iac, P::Wont, P::OptionSuppressGoAhead}));
        QVERIFY(protocol.takeOutgoing().isEmpty());
    }

    void shouldNotAnswerARefusalOfSomethingNeverAskedFor()
    {
        P protocol;
        protocol.receive(bytes({P::Iac, P::Wont, 1, P::Iac, P::Dont, 5}));
        QVERIFY(protocol.takeOutgoing().isEmpty());
    }

    void shouldEncodeComPortCommandsWithDoubledIac()
    {
        QCOMPARE(P::comPortCommand(P::SetControl, P::ControlRtsOn),
                 bytes({P::Iac, P::Sb, 44, 5, 11, P::Iac, P::Se}));
        const QByteArray value = bytes({0x00, 0xff, 0x12, 0xff});
        QCOMPARE(P::comPortCommand(P::SetBaudRate, value),
                 bytes({P::Iac, P::Sb, 44, 1, 0x00, 0xff, 0xff, 0x12, 0xff, 0xff, P::Iac, P::Se}));
    }

    void shouldReadCtsFromModemStateNotifications()
    {
        P protocol;
        QVERIFY(!protocol.ctsAsserted());
        QVERIFY(!protocol.modemState());
        protocol.receive(modemState(0x11));
        QVERIFY(protocol.ctsAsserted());
        protocol.receive(modemState(0x01));
        QVERIFY(!protocol.ctsAsserted());
        // Other lines asserted, CTS not.
        protocol.receive(modemState(0xe0));
        QVERIFY(!protocol.ctsAsserted());
    }

    void shouldCountOnlyNotificationsThatTellOfAnInputChange()
    {
        P protocol;
        protocol.receive(modemState(0x10)); // the first state is news
        QCOMPARE(protocol.inputChangeCount(), 1u);
        protocol.receive(modemState(0x10)); // a repeat without change bits is not
        QCOMPARE(protocol.inputChangeCount(), 1u);
        protocol.receive(modemState(0x30)); // DSR rose
        QCOMPARE(protocol.inputChangeCount(), 2u);
        // CTS fell and rose again between two notifications: only the change
        // bit tells.
        protocol.receive(modemState(0x31));
        QCOMPARE(protocol.inputChangeCount(), 3u);
    }

    void shouldTakeClientCodesAsNoModemState()
    {
        // 7 is what a client sends; only the server code 107 is a notification.
        P protocol;
        protocol.receive(bytes({P::Iac, P::Sb, 44, 7, 0x10, P::Iac, P::Se}));
        QVERIFY(!protocol.ctsAsserted());
    }

    void shouldUndoubleIacInsideSubnegotiations()
    {
        P protocol;
        // 0xff as the modem state: CTS and every other line asserted.
        protocol.receive(bytes({P::Iac, P::Sb, 44, 107, P::Iac, P::Iac, P::Iac, P::Se}));
        QCOMPARE(protocol.modemState(), std::optional<quint8>(0xff));
        // Baud rate 0x0000ffff = 65535, with both 0xff bytes doubled.
        protocol.receive(bytes({P::Iac, P::Sb, 44, 101, 0, 0, P::Iac, P::Iac, P::Iac, P::Iac, P::Iac, P::Se}));
        QCOMPARE(protocol.replies().baudRate, std::optional<quint32>(65535));
    }

    void shouldFollowNotificationsSplitAcrossReads()
    {
        P protocol;
        const QByteArray notification = modemState(0x10);
        for (const char byte : notification) {
            QVERIFY(!protocol.ctsAsserted());
            protocol.receive(QByteArrayView(&byte, 1));
        }
        QVERIFY(protocol.ctsAsserted());
    }

    void shouldRecordTheServersAnswersToLineSettings()
    {
        P protocol;
        protocol.receive(bytes({P::Iac, P::Sb, 44, 101, 0, 0, 0x25, 0x80, P::Iac, P::Se}));
        protocol.receive(bytes({P::Iac, P::Sb, 44, 102, 8, P::Iac, P::Se}));
        protocol.receive(bytes({P::Iac, P::Sb, 44, 103, 1, P::Iac, P::Se}));
        protocol.receive(bytes({P::Iac, P::Sb, 44, 104, 1, P::Iac, P::Se}));
        protocol.receive(bytes({P::Iac, P::Sb, 44, 105, 12, P::Iac, P::Se}));
        QVERIFY(!protocol.replies().flowControl); // an RTS answer is not the flow control answer
        protocol.receive(bytes({P::Iac, P::Sb, 44, 105, 1, P::Iac, P::Se}));
        const P::Replies &replies = protocol.replies();
        QCOMPARE(replies.baudRate, std::optional<quint32>(9600));
        QCOMPARE(replies.dataSize, std::optional<quint8>(8));
        QCOMPARE(replies.parity, std::optional<quint8>(1));
        QCOMPARE(replies.stopSize, std::optional<quint8>(1));
        QCOMPARE(replies.flowControl, std::optional<quint8>(1));
        QCOMPARE(replies.rts, std::optional<bool>(false));
        protocol.clearReplies();
        QVERIFY(!protocol.replies().baudRate);
    }

    void shouldIgnoreDataAndOtherCommandsBetweenNotifications()
    {
        P protocol;
        QByteArray stream = "login: " + bytes({P::Iac, P::Iac, P::Iac, 241 /* NOP */, P::Iac, 249 /* GA */});
        stream += modemState(0x10) + "more data" + bytes({P::Iac, P::Se /* stray */});
        protocol.receive(stream);
        QVERIFY(protocol.ctsAsserted());
        QVERIFY(protocol.takeOutgoing().isEmpty());
    }

    void shouldDropASubnegotiationCutShortByACommand()
    {
        P protocol;
        // SB ... then IAC WILL SGA instead of IAC SE: the half notification
        // is dropped and the negotiation still answered.
        protocol.receive(bytes({P::Iac, P::Sb, 44, 107, 0x10, P::Iac, P::Will, P::OptionSuppressGoAhead}));
        QVERIFY(!protocol.ctsAsserted());
        QCOMPARE(protocol.malformedCount(), 1);
        QCOMPARE(protocol.takeOutgoing(), bytes({P::Iac, P::Do, P::OptionSuppressGoAhead}));
        protocol.receive(modemState(0x10));
        QVERIFY(protocol.ctsAsserted());
    }

    void shouldDropAnOverlongSubnegotiationAndRecover()
    {
        P protocol;
        QByteArray endless = bytes({P::Iac, P::Sb, 44, 107});
        endless += QByteArray(1 << 20, char(0x10));
        protocol.receive(endless);
        protocol.receive(bytes({P::Iac, P::Se}));
        QVERIFY(!protocol.ctsAsserted());
        QCOMPARE(protocol.malformedCount(), 1);
        protocol.receive(modemState(0x10));
        QVERIFY(protocol.ctsAsserted());
    }

    void shouldIgnoreNotificationsOfTheWrongLength()
    {
        P protocol;
        protocol.receive(modemState(0x10));
        protocol.receive(bytes({P::Iac, P::Sb, 44, 107, P::Iac, P::Se}));
        protocol.receive(bytes({P::Iac, P::Sb, 44, 107, 0, 0, P::Iac, P::Se}));
        protocol.receive(bytes({P::Iac, P::Sb, 44, P::Iac, P::Se}));
        protocol.receive(bytes({P::Iac, P::Sb, 1, 107, 0, P::Iac, P::Se}));
        QVERIFY(protocol.ctsAsserted());
        QCOMPARE(protocol.malformedCount(), 4);
    }

    void shouldSendItsSignatureWhenTheServerAsksForIt()
    {
        P protocol;
        protocol.receive(bytes({P::Iac, P::Sb, 44, 100, P::Iac, P::Se}));
        QCOMPARE(protocol.takeOutgoing(), P::comPortCommand(P::Signature, QByteArrayView("Zelvo-Footswitch2")));
        // The server's own signature needs no answer.
        protocol.receive(bytes({P::Iac, P::Sb, 44, 100, 'x', 'y', P::Iac, P::Se}));
        QVERIFY(protocol.takeOutgoing().isEmpty());
    }

    void shouldBoundItsAnswersToAFloodOfRequests()
    {
        P protocol;
        QByteArray flood;
        for (int i = 0; i < 100000; ++i)
            flood += bytes({P::Iac, P::Will, 1});
        protocol.receive(flood);
        QVERIFY(protocol.takeOutgoing().size() <= P::MaxOutgoingLength);
    }
};

QTEST_GUILESS_MAIN(TestTelnetComPortProtocol)
#include "tst_telnetcomportprotocol.moc"
