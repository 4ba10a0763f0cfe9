#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <array>
#include <cstdint>
#include <optional>

// The client side of Telnet with the Com Port Control option, reduced to what
// a port used only for its modem lines needs. It knows nothing of sockets:
// bytes from the server go in through receive(), the answers they call for
// come out of takeOutgoing(), and what the server told us can be read back.
// Anything a server sends, however malformed, leaves it in a usable state
// and costs a bounded amount of memory.
class TelnetComPortProtocol
{
public:
    // Telnet commands (RFC 854) and options we care about.
    static constexpr quint8 Iac = 255;
    static constexpr quint8 Dont = 254;
    static constexpr quint8 Do = 253;
    static constexpr quint8 Wont = 252;
    static constexpr quint8 Will = 251;
    static constexpr quint8 Sb = 250;
    static constexpr quint8 Se = 240;
    static constexpr quint8 OptionBinary = 0;
    static constexpr quint8 OptionSuppressGoAhead = 3;
    static constexpr quint8 OptionComPort = 44;

    // Com Port Control commands as the client sends them; the server answers
    // and notifies with the same code plus ServerOffset.
    enum Command : quint8 {
        Signature = 0,
        SetBaudRate = 1,
        SetDataSize = 2,
        SetParity = 3,
        SetStopSize = 4,
        SetControl = 5,
        NotifyLineState = 6,
        NotifyModemState = 7,
        FlowControlSuspend = 8,
        FlowControlResume = 9,
        SetLineStateMask = 10,
        SetModemStateMask = 11,
        PurgeData = 12,
    };
    static constexpr quint8 ServerOffset = 100;

    // Values of SET-PARITY, SET-STOPSIZE and SET-CONTROL that we send.
    static constexpr quint8 ParityNone = 1;
    static constexpr quint8 StopSizeOne = 1;
    static constexpr quint8 ControlNoFlowControl = 1;
    static constexpr quint8 ControlRtsOn = 11;
    static constexpr quint8 ControlRtsOff = 12;
    static constexpr quint8 ControlDtrOn = 8;
    static constexpr quint8 ControlDtrOff = 9;

    // NOTIFY-MODEMSTATE bits.
    static constexpr quint8 ModemStateCts = 0x10;
    static constexpr quint8 ModemStateDeltaCts = 0x01;
    static constexpr quint8 ModemStateDsr = 0x20;
    static constexpr quint8 ModemStateRi = 0x40;
    static constexpr quint8 ModemStateDcd = 0x80;
    // The four input lines and their change bits (delta CTS, delta DSR,
    // trailing edge of RI, delta DCD).
    static constexpr quint8 ModemStateInputs = 0xF0;
    static constexpr quint8 ModemStateDeltas = 0x0F;

    // A subnegotiation longer than this is dropped: no server has a reason to
    // send one (the longest is a signature text), and it caps our memory.
    static constexpr int MaxSubnegotiationLength = 256;
    // Answers not yet taken are capped as well, should a server keep asking.
    static constexpr int MaxOutgoingLength = 4096;

    // What the server answered to the line settings since clearReplies().
    struct Replies
    {
        std::optional<quint32> baudRate;
        std::optional<quint8> dataSize;
        std::optional<quint8> parity;
        std::optional<quint8> stopSize;
        std::optional<quint8> flowControl;
        std::optional<bool> rts;
    };

    // Asks the server to let us use the Com Port Control option; the first
    // thing a client says.
    void requestComPortControl();

    void receive(QByteArrayView bytes);
    QByteArray takeOutgoing();

    // IAC SB COM-PORT-OPTION command value IAC SE, with IAC doubled in the value.
    static QByteArray comPortCommand(quint8 command, QByteArrayView value);
    static QByteArray comPortCommand(quint8 command, quint8 value);

    // The server agreed to (or refused) our request to use Com Port Control.
    bool comPortAccepted() const { return m_us[OptionComPort] == OptionState::Yes; }
    bool comPortRefused() const { return m_comPortRefused; }

    // The last NOTIFY-MODEMSTATE; none before the first one arrives.
    std::optional<quint8> modemState() const { return m_modemState; }
    bool ctsAsserted() const { return m_modemState && (*m_modemState & ModemStateCts); }
    // Counts NOTIFY-MODEMSTATEs that told of an input-line change: the
    // inputs differ from the last state, or a change bit is set (a press and
    // release between two notifications leaves the inputs as they were).
    quint32 inputChangeCount() const { return m_inputChanges; }
    // Counts the server's answers to SET-CONTROL for RTS or DTR: each is the
    // server saying it has set the line, one answer per command sent.
    quint32 lineControlAnswerCount() const { return m_lineControlAnswers; }

    const Replies &replies() const { return m_replies; }
    void clearReplies() { m_replies = {}; }

    // Subnegotiations dropped as too long, cut short or not understood.
    int malformedCount() const { return m_malformed; }

    // False while a command or subnegotiation has begun and not ended.
    bool isBetweenCommands() const { return m_mode == Mode::Data; }

    // Whether an option is enabled on our side (we WILL) or the server's (it WILL).
    bool isEnabledLocally(quint8 option) const { return m_us[option] == OptionState::Yes; }
    bool isEnabledRemotely(quint8 option) const { return m_him[option] == OptionState::Yes; }

private:
    // One side of one option, as in RFC 1143 without the queue bit: this
    // client never changes its mind while a request is pending.
    enum class OptionState : quint8 { No, Yes, WantNo, WantYes };
    enum class Mode : quint8 { Data, Iac, Negotiate, Subnegotiation, SubnegotiationIac };

    void handleByte(quint8 byte);
    void handleNegotiation(quint8 verb, quint8 option);
    void handleSubnegotiation();
    void handleComPort(quint8 command, QByteArrayView value);
    void sendNegotiation(quint8 verb, quint8 option);
    void appendOutgoing(QByteArrayView bytes);
    static bool isSupported(quint8 option);

    Mode m_mode = Mode::Data;
    quint8 m_verb = 0;
    std::array<quint8, MaxSubnegotiationLength> m_sub{};
    int m_subLength = 0;
    bool m_subOverflow = false;

    std::array<OptionState, 256> m_us{};
    std::array<OptionState, 256> m_him{};
    bool m_comPortRefused = false;

    std::optional<quint8> m_modemState;
    quint32 m_inputChanges = 0;
    quint32 m_lineControlAnswers = 0;
    Replies m_replies;
    int m_malformed = 0;
    QByteArray m_outgoing;
};
