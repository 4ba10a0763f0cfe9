#include "platform/net/telnetcomportprotocol.h"

namespace {
constexpr char ClientSignature[] = "Zelvo-Footswitch2";
}

void TelnetComPortProtocol::requestComPortControl()
{
    if (m_us[OptionComPort] != OptionState::No)
        return;
    m_us[OptionComPort] = OptionState::WantYes;
    m_comPortRefused = false;
    sendNegotiation(Will, OptionComPort);
}

void TelnetComPortProtocol::receive(QByteArrayView bytes)
{
    for (const char byte : bytes)
        handleByte(static_cast<quint8>(byte));
}

QByteArray TelnetComPortProtocol::takeOutgoing()
{
    QByteArray taken;
    taken.swap(m_outgoing);
    return taken;
}

QByteArray TelnetComPortProtocol::comPortCommand(quint8 command, QByteArrayView value)
{
    QByteArray bytes;
    bytes.reserve(6 + 2 * value.size());
    bytes.append(char(Iac)).append(char(Sb)).append(char(OptionComPort)).append(char(command));
    for (const char byte : value) {
        bytes.append(byte);
        if (static_cast<quint8>(byte) == Iac)
            bytes.append(byte);
    }
    bytes.append(char(Iac)).append(char(Se));
    return bytes;
}

QByteArray TelnetComPortProtocol::comPortCommand(quint8 command, quint8 value)
{
    const char byte = char(value);
    return comPortCommand(command, QByteArrayView(&byte, 1));
}

void TelnetComPortProtocol::handleByte(quint8 byte)
{
    switch (m_mode) {
    case Mode::Data:
        // Data from the remote port has nowhere to go: no data is exchanged.
        if (byte == Iac)
            m_mode = Mode::Iac;
        return;
    case Mode::Iac:
        switch (byte) {
        case Will:
        case Wont:
        case Do:
        case Dont:
            m_verb = byte;
            m_mode = Mode::Negotiate;
            return;
        case Sb:
            m_subLength = 0;
            m_subOverflow = false;
            m_mode = Mode::Subnegotiation;
            return;
        default:
            // IAC IAC (a data byte), a stray SE, NOP, GA, AYT...: nothing to do.
            m_mode = Mode::Data;
            return;
        }
    case Mode::Negotiate:
        m_mode = Mode::Data;
        handleNegotiation(m_verb, byte);
        return;
    case Mode::Subnegotiation:
        if (byte == Iac) {
            m_mode = Mode::SubnegotiationIac;
            return;
        }
        break;
    case Mode::SubnegotiationIac:
        if (byte == Se) {
            m_mode = Mode::Data;
            if (m_subOverflow)
                ++m_malformed;
            else
                handleSubnegotiation();
            return;
        }
        if (byte != Iac) {
            // IAC followed by anything but IAC or SE inside a subnegotiation:
            // the server cut it short. Drop it and take the byte as the
            // command it most likely is, so that we fall back in step.
            ++m_malformed;
            m_mode = Mode::Iac;
            handleByte(byte);
            return;
        }
        // IAC IAC: one data byte 255.
        m_mode = Mode::Subnegotiation;
        break;
    }
    if (m_subLength < MaxSubnegotiationLength)
        m_sub[m_subLength++] = byte;
    else
        m_subOverflow = true;
}

bool TelnetComPortProtocol::isSupported(quint8 option)
{
    return option == OptionBinary || option == OptionSuppressGoAhead || option == OptionComPort;
}

void TelnetComPortProtocol::handleNegotiation(quint8 verb, quint8 option)
{
    // RFC 1143: answer a request, take a confirmation silently, and never
    // answer a confirmation with a request of our own, so no loop can start.
    const bool remoteSide = verb == Will || verb == Wont;
    OptionState &state = remoteSide ? m_him[option] : m_us[option];
    const quint8 yes = remoteSide ? Do : Will;
    const quint8 no = remoteSide ? Dont : Wont;
    const bool enable = verb == Will || verb == Do;

    if (enable) {
        switch (state) {
        case OptionState::No:
            if (isSupported(option)) {
                state = OptionState::Yes;
                sendNegotiation(yes, option);
            } else {
                sendNegotiation(no, option);
            }
            break;
        case OptionState::Yes:
            break;
        case OptionState::WantNo:
            // Our "no" was answered with "yes": the peer is wrong, stay off.
            state = OptionState::No;
            break;
        case OptionState::WantYes:
            state = OptionState::Yes;
            break;
        }
        // A server may refuse at first and offer later: the offer stands.
        if (!remoteSide && option == OptionComPort && state == OptionState::Yes)
            m_comPortRefused = false;
    } else {
        switch (state) {
        case OptionState::No:
            break;
        case OptionState::Yes:
            state = OptionState::No;
            sendNegotiation(no, option);
            break;
        case OptionState::WantNo:
            state = OptionState::No;
            break;
        case OptionState::WantYes:
            state = OptionState::No;
            if (!remoteSide && option == OptionComPort)
                m_comPortRefused = true;
            break;
        }
    }
}

void TelnetComPortProtocol::handleSubnegotiation()
{
    if (m_subLength < 2 || m_sub[0] != OptionComPort) {
        ++m_malformed;
        return;
    }
    const QByteArrayView value(reinterpret_cast<const char *>(m_sub.data()) + 2, m_subLength - 2);
    handleComPort(m_sub[1], value);
}

void TelnetComPortProtocol::handleComPort(quint8 command, QByteArrayView value)
{
    const auto byteValue = [&value]() -> std::optional<quint8> {
        if (value.size() != 1)
            return std::nullopt;
        return static_cast<quint8>(value[0]);
    };

    switch (command) {
    case Signature:
        // The server names itself (or, with a client code, breaks the rules): ignore.
        return;
    case ServerOffset + Signature:
        // An empty signature from the server asks for ours; a text is its own.
        if (value.isEmpty())
            appendOutgoing(comPortCommand(Signature, QByteArrayView(ClientSignature)));
        return;
    case ServerOffset + SetBaudRate:
        if (value.size() != 4)
            break;
        m_replies.baudRate = (quint32(quint8(value[0])) << 24) | (quint32(quint8(value[1])) << 16)
            | (quint32(quint8(value[2])) << 8) | quint32(quint8(value[3]));
        return;
    case ServerOffset + SetDataSize:
        if (!(m_replies.dataSize = byteValue()))
            break;
        return;
    case ServerOffset + SetParity:
        if (!(m_replies.parity = byteValue()))
            break;
        return;
    case ServerOffset + SetStopSize:
        if (!(m_replies.stopSize = byteValue()))
            break;
        return;
    case ServerOffset + SetControl: {
        const std::optional<quint8> control = byteValue();
        if (!control)
            break;
        if (*control == ControlRtsOn || *control == ControlRtsOff)
            m_replies.rts = *control == ControlRtsOn;
        if (*control == ControlRtsOn || *control == ControlRtsOff || *control == ControlDtrOn
            || *control == ControlDtrOff)
            ++m_lineControlAnswers;
        else if (*control <= 3)
            m_replies.flowControl = *control;
        return;
    }
    case ServerOffset + NotifyModemState: {
        const std::optional<quint8> state = byteValue();
        if (!state)
            break;
        if ((*state & ModemStateDeltas) != 0 || !m_modemState
            || (*state & ModemStateInputs) != (*m_modemState & ModemStateInputs))
            ++m_inputChanges;
        m_modemState = state;
        return;
    }
    default:
        // Line state, flow control suspend/resume, mask and purge answers:
        // nothing for a port without data.
        return;
    }
    ++m_malformed;
}

void TelnetComPortProtocol::sendNegotiation(quint8 verb, quint8 option)
{
    const char bytes[] = {char(Iac), char(verb), char(option)};
    appendOutgoing(QByteArrayView(bytes, 3));
}

void TelnetComPortProtocol::appendOutgoing(QByteArrayView bytes)
{
    if (m_outgoing.size() + bytes.size() > MaxOutgoingLength)
        return;
    m_outgoing.append(bytes);
}
