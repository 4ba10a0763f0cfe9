#pragma once

#include <QString>

// The messages that tell the user a port cannot be used. The first sentence
// is the one the program has always shown; the device and the reason follow
// on a line of their own, so that a mistyped mapping can be recognised.
namespace PortMessages {

// The device (as mapped) and why it could not be used.
inline QString openFailureDetail(const QString &location, const QString &reason)
{
    if (reason.isEmpty())
        return location;
    if (location.isEmpty() || reason.startsWith(location))
        return reason;
    return QStringLiteral("%1: %2").arg(location, reason);
}

inline QString withDetail(const QString &message, const QString &detail)
{
    return detail.isEmpty() ? message : message + QStringLiteral("\n\n") + detail;
}

inline QString inputNotAvailable(const QString &port, const QString &detail = {})
{
    return withDetail(QStringLiteral("COM %1: not available. Check for correct Com Port.").arg(port), detail);
}

inline QString outputNotAvailable(const QString &port, const QString &detail = {})
{
    return withDetail(QStringLiteral("COM %1: not available. Check for correct Com Port Out.").arg(port), detail);
}

} // namespace PortMessages
