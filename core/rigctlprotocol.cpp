#include "core/rigctlprotocol.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <utility>

namespace {

enum class Action { SetFreq, GetFreq, SetMode, GetMode, SetVfo, GetVfo, SetPtt, GetPtt, SetSplit, GetSplit,
                    ChkVfo, DumpState, GetPowerStat, GetLockMode, Quit };

// Hamlib's radio description for a client that opens "Hamlib NET rigctl":
// rigctld's answer for its dummy radio, cut to what such a client reads (the
// numbered lists, then protocol 1's name=value lines up to "done"). Lines stay
// short: older clients read the description 96 bytes at a time.
constexpr char dumpState[] =
    "1\n"
    "1\n"
    "0\n"
    "150000.000000 1500000000.000000 0x1ff -1 -1 0x77e00007 0xf\n"
    "0 0 0 0 0 0 0\n"
    "150000.000000 1500000000.000000 0x1ff 5000 100000 0x77e00007 0xf\n"
    "0 0 0 0 0 0 0\n"
    "0x1ff 1\n"
    "0x1ff 0\n"
    "0 0\n"
    "0xc 2400\n"
    "0xc 1800\n"
    "0xc 3000\n"
    "0x2 500\n"
    "0x10 300\n"
    "0x1 8000\n"
    "0x20 15000\n"
    "0x40 230000\n"
    "0 0\n"
    "9990\n"
    "9990\n"
    "10000\n"
    "0\n"
    "\n"
    "\n"
    "0x0\n"
    "0x0\n"
    "0x0\n"
    "0x0\n"
    "0x0\n"
    "0x0\n"
    "vfo_ops=0x0\n"
    "ptt_type=0x1\n"
    "targetable_vfo=0x3\n"
    "has_set_vfo=1\n"
    "has_get_vfo=1\n"
    "has_set_freq=1\n"
    "has_get_freq=1\n"
    "timeout=0\n"
    "rig_model=1\n"
    "done\n";

constexpr const char *vfoNames[] = {"VFOA", "VFOB", "VFOC", "currVFO", "VFO", "MEM", "Main", "Sub", "TX", "RX",
                                    "MainA", "MainB", "MainC", "SubA", "SubB", "SubC", "None"};
constexpr const char *modeNames[] = {"AM", "CW", "USB", "LSB", "RTTY", "FM", "WFM", "CWR", "RTTYR", "AMS",
                                     "PKTLSB", "PKTUSB", "PKTFM", "PKTFMN", "PKTAM", "ECSSUSB", "ECSSLSB",
                                     "FAX", "SAM", "SAL", "SAH", "DSB", "FMN", "AMN", "CWN", "C4FM"};

template<std::size_t N>
bool isOneOf(const QByteArray &word, const char *const (&names)[N])
{
    return std::any_of(std::begin(names), std::end(names), [&word](const char *name) { return word == name; });
}

bool isVfoName(const QByteArray &word) { return isOneOf(word, vfoNames); }

// A whole number in [low, high], or nothing.
std::optional<qint64> number(const QByteArray &word, qint64 low, qint64 high)
{
    bool ok = false;
    const qint64 value = word.toLongLong(&ok);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

// With the radio's own rigctld behind, these are still answered here. PTT is
// this program's: the client keys the chain, which ends in the radio. The
// power status is asked when a client opens, and answered here so that it
// opens even while the radio's rigctld is away; "q" ends this connection,
// not the radio's.
bool answeredHere(Action action)
{
    switch (action) {
    case Action::SetPtt:
    case Action::GetPtt:
    case Action::GetPowerStat:
    case Action::Quit:
        return true;
    default:
        return false;
    }
}

QByteArray report(int error) { return "RPRT " + QByteArray::number(-error) + '\n'; }

} // namespace

struct RigctlProtocol::Command
{
    char shortName;
    const char *longName;
    int arguments;
    bool takesVfo;
    Action action;
};


static const RigctlProtocol::Command commands[] = {
    {'F', "set_freq", 1, true, Action::SetFreq},
    {'f', "get_freq", 0, true, Action::GetFreq},
    {'M', "set_mode", 2, true, Action::SetMode},
    {'m', "get_mode", 0, true, Action::GetMode},
    {'V', "set_vfo", 1, false, Action::SetVfo},
    {'v', "get_vfo", 0, false, Action::GetVfo},
    {'T', "set_ptt", 1, true, Action::SetPtt},
    {'t', "get_ptt", 0, true, Action::GetPtt},
    {'S', "set_split_vfo", 2, true, Action::SetSplit},
    {'s', "get_split_vfo", 0, true, Action::GetSplit},
    {0, "chk_vfo", 0, false, Action::ChkVfo},
    {0, "dump_state", 0, false, Action::DumpState},
    {0, "get_powerstat", 0, false, Action::GetPowerStat},
    {0, "get_lock_mode", 0, false, Action::GetLockMode},
    {'q', "quit", 0, false, Action::Quit},
    {'Q', "exit", 0, false, Action::Quit},
};

static const RigctlProtocol::Command *findCommand(const QByteArray &word)
{
    const bool isLong = word.startsWith('\\');
    for (const RigctlProtocol::Command &command : commands) {
        if (isLong ? word.sliced(1) == command.longName : word.size() == 1 && word.front() == command.shortName && command.shortName)
            return &command;
    }
    return nullptr;
}

RigctlProtocol::RigctlProtocol(RigctlVirtualRig &rig)
    : m_rig(rig)
{
}

QByteArray RigctlProtocol::receive(QByteArrayView bytes)
{
    if (m_closed)
        return {};
    m_unread += bytes;
    return answerLines();
}

QByteArray RigctlProtocol::answerForwarded(const std::optional<QByteArray> &answer)
{
    if (!m_waiting)
        return {};
    m_waiting = false;
    m_forward.clear();
    QByteArray answers;
    if (answer || !m_describing) {
        answers = answer.value_or(report(IoError));
    } else {
        const bool forwarding = std::exchange(m_forwarding, false);
        answers = answerLine(m_waitingLine);
        m_forwarding = forwarding;
    }
    return answers + answerLines();
}

QByteArray RigctlProtocol::answerLines()
{
    QByteArray answers;
    QByteArrayView bytes = m_unread;
    while (!m_closed && !m_waiting && !bytes.isEmpty()) {
        const char *newline = static_cast<const char *>(std::memchr(bytes.data(), '\n', bytes.size()));
        const qsizetype end = newline ? newline - bytes.data() : bytes.size();
        // A line is never held beyond the bound, however much arrives at once.
        if (m_pending.size() + end > maxLineBytes) {
            answers += report(ProtocolError);
            m_closed = true;
            m_pending = QByteArray();
            bytes = {};
            break;
        }
        m_pending += bytes.first(end);
        bytes = bytes.sliced(newline ? end + 1 : end);
        if (!newline)
            break;
        QByteArray line = std::exchange(m_pending, QByteArray());
        if (line.endsWith('\r'))
            line.chop(1);
        answers += answerLine(line);
    }
    m_unread = bytes.toByteArray();
    return answers;
}

QByteArray RigctlProtocol::answerLine(QByteArrayView line)
{
    QByteArray text = line.toByteArray().trimmed();
    if (text.isEmpty())
        return {};
    // Extended responses: '+' puts each part on its own line, ';', '|' or ','
    // separate them with that character on one line.
    char separator = 0;
    if (QByteArrayView("+;|,").contains(text.front())) {
        separator = text.front() == '+' ? '\n' : text.front();
        text = text.sliced(1).trimmed();
    }
    QList<QByteArray> words = text.simplified().split(' ');
    const Command *command = findCommand(words.takeFirst());
    if (m_forwarding && !(command && answeredHere(command->action))) {
        // The radio's VFO mode and description (its modes, its VFOs' names)
        // make the client speak to the radio in the radio's terms: a client
        // told of the stored rig names VFO B "Sub", which a VFO A/B radio
        // refuses. rigctld also describes itself in full only to a
        // connection that asked for its VFO mode first. When the radio is
        // away, the stored rig's answers let the client open all the same.
        m_waiting = true;
        m_waitingLine = line.toByteArray();
        m_describing = command && (command->action == Action::DumpState || command->action == Action::ChkVfo);
        m_forward = line.trimmed().toByteArray() + '\n';
        return {};
    }
    if (!command)
        return report(NotAvailable);
    return execute(*command, std::move(words), separator);
}

RigctlVirtualRig::Vfo &RigctlProtocol::vfoSlot(const QByteArray &name)
{
    QByteArray vfo = name;
    if (vfo == "currVFO" || vfo == "VFO" || vfo == "RX")
        vfo = m_rig.currentVfo;
    else if (vfo == "TX")
        vfo = m_rig.split ? m_rig.txVfo : m_rig.currentVfo;
    static const char *const secondVfo[] = {"VFOB", "Sub", "SubA", "SubB", "SubC", "MainB"};
    return isOneOf(vfo, secondVfo) ? m_rig.b : m_rig.a;
}

QByteArray RigctlProtocol::execute(const Command &command, QList<QByteArray> arguments, char separator)
{
    QByteArray header = QByteArray(command.longName) + ':';
    for (const QByteArray &argument : std::as_const(arguments))
        header += ' ' + argument;
    QByteArray vfo = "currVFO";
    if (command.takesVfo && arguments.size() == command.arguments + 1 && isVfoName(arguments.front()))
        vfo = arguments.takeFirst();
    QList<QByteArray> values; // "Label: value" pairs of a get command
    int error = Ok;
    if (arguments.size() != command.arguments) {
        error = InvalidArgument;
    } else {
        RigctlVirtualRig::Vfo &slot = vfoSlot(vfo);
        switch (command.action) {
        case Action::SetFreq: {
            bool ok = false;
            const double hz = arguments[0].toDouble(&ok);
            if (ok && std::isfinite(hz) && hz >= 0 && hz < 1e12)
                slot.frequencyHz = static_cast<qint64>(hz);
            else
                error = InvalidArgument;
            break;
        }
        case Action::GetFreq:
            values = {"Frequency", QByteArray::number(slot.frequencyHz)};
            break;
        case Action::SetMode: {
            const std::optional<qint64> passband = number(arguments[1], -1, 1000000000);
            if (!isOneOf(arguments[0], modeNames) || !passband) {
                error = InvalidArgument;
                break;
            }
            slot.mode = arguments[0];
            if (*passband >= 0) // -1: the passband stays as it is
                slot.passbandHz = *passband;
            break;
        }
        case Action::GetMode:
            values = {"Mode", slot.mode, "Passband", QByteArray::number(slot.passbandHz)};
            break;
        case Action::SetVfo:
            if (isVfoName(arguments[0]))
                m_rig.currentVfo = arguments[0];
            else
                error = InvalidArgument;
            break;
        case Action::GetVfo:
            values = {"VFO", m_rig.currentVfo};
            break;
        case Action::SetPtt: {
            // 1, 2 and 3 are PTT on (plain, microphone, data); 0 is off.
            const std::optional<qint64> ptt = number(arguments[0], 0, 3);
            if (!ptt)
                error = InvalidArgument;
            else if (m_pttHandler)
                m_pttHandler(*ptt != 0);
            break;
        }
        case Action::GetPtt:
            values = {"PTT", m_pttOn ? "1" : "0"};
            break;
        case Action::SetSplit: {
            const std::optional<qint64> split = number(arguments[0], 0, 1);
            if (!split || !isVfoName(arguments[1])) {
                error = InvalidArgument;
                break;
            }
            m_rig.split = *split == 1;
            m_rig.txVfo = arguments[1];
            break;
        }
        case Action::GetSplit:
            values = {"Split", m_rig.split ? "1" : "0", "TX VFO", m_rig.txVfo};
            break;
        case Action::ChkVfo:
            // Not in VFO mode: clients send no VFO words unless told to.
            return separator ? "ChkVFO: 0\n" : "0\n";
        case Action::DumpState:
            return separator ? header + separator + dumpState + report(Ok) : QByteArray(dumpState);
        case Action::GetPowerStat:
            values = {"Power Status", "1"};
            break;
        case Action::GetLockMode:
            values = {"Locked", "0"};
            break;
        case Action::Quit:
            m_closed = true;
            return report(Ok);
        }
    }
    if (!separator) {
        if (error != Ok || values.isEmpty())
            return report(error);
        QByteArray answer;
        for (qsizetype i = 1; i < values.size(); i += 2)
            answer += values[i] + '\n';
        return answer;
    }
    QByteArray answer = header + separator;
    for (qsizetype i = 0; error == Ok && i + 1 < values.size(); i += 2)
        answer += values[i] + ": " + values[i + 1] + separator;
    return answer + report(error);
}
