#include "core/sequencesettings.h"

#include "core/relaysettings.h"
#include "platform/net/networkaddress.h"
#include "platform/storage/settingsstore.h"

#include <algorithm>

namespace SequenceSettings {

namespace {

QString outputKey(int output, const char *what)
{
    return QStringLiteral("Output%1-%2").arg(output).arg(QLatin1String(what));
}

// Plain digits in [0, high]; anything else is the fallback.
int number(const QString &text, int high, int fallback)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.size() > 9
        || !std::all_of(trimmed.cbegin(), trimmed.cend(), [](QChar c) { return c.isDigit() && c.unicode() < 128; }))
        return fallback;
    const int value = trimmed.toInt();
    return value <= high ? value : fallback;
}

int timing(const QString &text)
{
    return number(text, maxTimingMs, 0);
}

QString portNumberText(const QString &text, const QString &fallback)
{
    return RelaySettings::portNumber(text.trimmed()) ? text.trimmed() : fallback;
}

} // namespace

QString kindText(Output::Kind kind)
{
    return kind == Output::Kind::Cat ? QStringLiteral("CAT") : QStringLiteral("Serial");
}

std::optional<Output::Kind> kind(const QString &text)
{
    const QString upper = text.trimmed().toUpper();
    if (upper == QLatin1String("SERIAL"))
        return Output::Kind::Serial;
    if (upper == QLatin1String("CAT"))
        return Output::Kind::Cat;
    return std::nullopt;
}

std::optional<QString> rigPortError(const RigAddress &rig)
{
    const QString trimmed = rig.port.trimmed();
    if (rig.model == RigAddress::rigctldModel) {
        if (trimmed.isEmpty())
            return QStringLiteral("Give rigctld's address, as in localhost:4532.");
        // The network ports' grammar for HOST:PORT, with rigctld's port when
        // none is given.
        const bool hasPort = trimmed.contains(QLatin1Char(':')) && !trimmed.endsWith(QLatin1Char(']'));
        const NetworkAddress address = NetworkAddress::parse(
            QStringLiteral("rfc2217://%1%2").arg(trimmed, hasPort ? QString() : QStringLiteral(":4532")));
        if (!address.isValid())
            return address.error();
        return std::nullopt;
    }
    if (trimmed.isEmpty())
        return QStringLiteral("Give the radio's serial device, as in /dev/ttyUSB0.");
    return StationSettings::tlsPathError(StoredText{trimmed});
}

Sequence load(const SettingsStore &settings)
{
    Sequence sequence;
    sequence.firstLeadMs = timing(settings.groupValue(group, outputKey(1, "Lead")));
    sequence.firstTailMs = timing(settings.groupValue(group, outputKey(1, "Tail")));
    for (int n = 2; n <= maxOutputs; ++n) {
        const std::optional<Output::Kind> outputKind = kind(settings.groupValue(group, outputKey(n, "Kind")));
        if (!outputKind)
            break;
        Output output;
        output.kind = *outputKind;
        output.leadMs = timing(settings.groupValue(group, outputKey(n, "Lead")));
        output.tailMs = timing(settings.groupValue(group, outputKey(n, "Tail")));
        if (output.kind == Output::Kind::Serial) {
            output.port = portNumberText(settings.groupValue(group, outputKey(n, "Port")), QString());
            output.line = StationSettings::relayLine(settings.groupValue(group, outputKey(n, "Line")));
            if (output.port.isEmpty())
                break;
        } else {
            const StoredText port = settings.storedGroupValue(group, outputKey(n, "Rig-Port"));
            output.rig.model = number(settings.groupValue(group, outputKey(n, "Rig-Model")), 999999, 0);
            output.rig.port = port.text.trimmed();
            output.rig.baud = number(settings.groupValue(group, outputKey(n, "Rig-Baud")), 10000000, 0);
            // A rig nobody can reach keys nothing, and the outputs after it
            // must not key without it.
            if (port.wasList || output.rig.model <= 0 || rigPortError(output.rig))
                break;
        }
        sequence.more.append(output);
    }
    const QString inhibitLine = settings.get(inhibitLineKey).trimmed();
    sequence.inhibit.enabled = !inhibitLine.isEmpty() && inhibitLine.toUpper() != QLatin1String("OFF")
        && StationSettings::footswitchLineText(StationSettings::footswitchLine(inhibitLine))
               == inhibitLine.toUpper();
    if (sequence.inhibit.enabled)
        sequence.inhibit.line = StationSettings::footswitchLine(inhibitLine);
    sequence.inhibit.port = portNumberText(settings.get(inhibitPortKey), QStringLiteral("1"));
    sequence.inhibit.inverted = StationSettings::footswitchInverted(settings.get(inhibitInvertedKey));
    return sequence;
}

void save(SettingsStore &settings, const Sequence &sequence)
{
    // One write to disk for the group: each takes milliseconds, and the
    // Settings window saves on its thread.
    QList<std::pair<QString, QString>> values;
    const auto put = [&values](int n, const char *what, const QString &text) {
        values.append({outputKey(n, what), text});
    };
    put(1, "Lead", QString::number(sequence.firstLeadMs));
    put(1, "Tail", QString::number(sequence.firstTailMs));
    for (int n = 2; n <= maxOutputs; ++n) {
        const qsizetype index = n - 2;
        const bool present = index < sequence.more.size();
        const Output output = present ? sequence.more.at(index) : Output{};
        const bool serial = present && output.kind == Output::Kind::Serial;
        const bool cat = present && output.kind == Output::Kind::Cat;
        put(n, "Kind", present ? kindText(output.kind) : QString());
        put(n, "Lead", present ? QString::number(output.leadMs) : QString());
        put(n, "Tail", present ? QString::number(output.tailMs) : QString());
        put(n, "Port", serial ? output.port : QString());
        put(n, "Line", serial ? StationSettings::relayLineText(output.line) : QString());
        put(n, "Rig-Model", cat ? QString::number(output.rig.model) : QString());
        put(n, "Rig-Port", cat ? output.rig.port : QString());
        put(n, "Rig-Baud", cat ? QString::number(output.rig.baud) : QString());
    }
    settings.saveGroupTogether(group, values);
    const Inhibit &inhibit = sequence.inhibit;
    settings.saveTogether({
        {inhibitLineKey, inhibit.enabled ? StationSettings::footswitchLineText(inhibit.line) : QStringLiteral("Off")},
        {inhibitPortKey, inhibit.port},
        {inhibitInvertedKey, inhibit.inverted ? QStringLiteral("1") : QStringLiteral("0")},
    });
}

std::optional<QString> supplyClash(const Output &output, const QString &footswitchPort, const Inhibit &inhibit)
{
    if (output.kind != Output::Kind::Serial)
        return std::nullopt;
    const auto supplied = [&](const QString &port) { return !port.isEmpty() && output.port == port; };
    if (supplied(footswitchPort)) {
        return QStringLiteral("COM %1 is the footswitch's port, whose supply (RTS and DTR high) would key the relay.")
            .arg(output.port);
    }
    if (inhibit.enabled && supplied(inhibit.port)) {
        return QStringLiteral("COM %1 is the inhibit input's port, whose supply (RTS and DTR high) would key the "
                              "relay.")
            .arg(output.port);
    }
    return std::nullopt;
}

} // namespace SequenceSettings
