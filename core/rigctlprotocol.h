#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <functional>
#include <optional>
#include <utility>

// The radio that a rigctld client sees through this program: it keeps what a
// client set, so that a program which sets the frequency and reads it back is
// satisfied, and it is shared by every connection as rigctld's one radio is.
// PTT is not stored here: the owner says what it is.
struct RigctlVirtualRig
{
    struct Vfo
    {
        qint64 frequencyHz = 14074000;
        QByteArray mode = "USB";
        qint64 passbandHz = 2400;
    };
    Vfo a;
    Vfo b;
    QByteArray currentVfo = "VFOA";
    bool split = false;
    QByteArray txVfo = "VFOA";
};

// One connection's side of rigctld's text protocol (as Hamlib 4.5's rigctld
// answers it, protocol version 1), without the socket: bytes in, answers out,
// and PTT requests to the owner. Commands come one a line, ended by "\n" or
// "\r\n", in short ("T 1") or long ("\set_ptt 1") form, with or without a
// VFO word, optionally after an extended-response prefix ("+", ";", "|", ",").
// Anything it does not understand gets an error answer and changes nothing;
// only a well-formed set_ptt reaches the owner.
//
// When the radio has its own rigctld, the commands are that radio's business:
// with forwarding on, each line but PTT's and a few about this connection is
// handed to the owner to pass on (lineToForward()), and the lines after it
// wait, so that the answers, and the keying, keep the client's order.
class RigctlProtocol
{
public:
    // A line longer than this is not a command: the connection ends.
    static constexpr qsizetype maxLineBytes = 1024;

    // rigctld's error numbers, answered as "RPRT -N".
    enum Error { Ok = 0, InvalidArgument = 1, IoError = 6, ProtocolError = 8, NotAvailable = 11 };

    explicit RigctlProtocol(RigctlVirtualRig &rig);

    // The owner is asked to key (true) or release (false) the transmitter.
    void setPttHandler(std::function<void(bool on)> handler) { m_pttHandler = std::move(handler); }
    // What "t" answers: the owner's word on the transmitter.
    void setPttState(bool on) { m_pttOn = on; }

    // Takes the next bytes of the connection's stream; returns what to send
    // back. After "q" or an overlong line, isClosed() is true and the rest is
    // ignored: the owner sends the answer and closes the connection.
    QByteArray receive(QByteArrayView bytes);
    bool isClosed() const { return m_closed; }

    // Pass the radio's commands on (true) or answer them from the stored rig.
    void setForwarding(bool on) { m_forwarding = on; }
    // A line waits for the radio's answer: receive() only keeps what comes.
    bool isWaiting() const { return m_waiting; }
    // The waiting line, ended by "\n", given once; then empty.
    QByteArray lineToForward() { return std::exchange(m_forward, QByteArray()); }
    // The radio's answer to the waiting line, or nothing when the radio could
    // not be reached ("RPRT -6"; the stored rig's answer to "\chk_vfo" and
    // "\dump_state"); returns that answer followed by the answers to the
    // lines kept meanwhile, up to the next line to forward.
    QByteArray answerForwarded(const std::optional<QByteArray> &answer);

    struct Command;

private:
    QByteArray answerLines();
    QByteArray answerLine(QByteArrayView line);
    QByteArray execute(const Command &command, QList<QByteArray> arguments, char separator);
    RigctlVirtualRig::Vfo &vfoSlot(const QByteArray &name);

    RigctlVirtualRig &m_rig;
    std::function<void(bool)> m_pttHandler;
    bool m_pttOn = false;
    bool m_closed = false;
    bool m_forwarding = false;
    bool m_waiting = false;
    QByteArray m_forward;
    QByteArray m_waitingLine;
    bool m_describing = false; // the waiting line asks how to speak to the radio
    QByteArray m_unread; // what came after a line still waiting for the radio
    QByteArray m_pending;
};
