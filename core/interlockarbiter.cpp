#include "core/interlockarbiter.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {

constexpr int MinTtlMs = 500;
constexpr int MaxTtlMs = 60000;

// "1", "true", "on" or {"inhibit": true}; anything else lifts the inhibit.
bool inhibitValue(const QByteArray &payload)
{
    const QByteArray text = payload.trimmed().toLower();
    if (text == "1" || text == "true" || text == "on")
        return true;
    const QJsonDocument json = QJsonDocument::fromJson(payload);
    return json.isObject() && json.object().value(QStringLiteral("inhibit")).toBool();
}

} // namespace

InterlockArbiter::InterlockArbiter(const Config &config)
    : m_config(config)
    , m_prefix(QStringLiteral("zelvo-footswitch2/%1/").arg(config.station))
{
}

QString InterlockArbiter::claimTopic(const QString &position) const
{
    return m_prefix + QStringLiteral("interlock/%1/%2").arg(m_config.group, position);
}

QString InterlockArbiter::inhibitTopic() const
{
    return claimTopic(QStringLiteral("inhibit"));
}

QString InterlockArbiter::statusTopic(const QString &position) const
{
    return m_prefix + position + QStringLiteral("/status");
}

QString InterlockArbiter::interlockedMessage(const QString &owner)
{
    return QStringLiteral("Interlocked: %1 is transmitting").arg(owner);
}

QString InterlockArbiter::brokerLostMessage()
{
    return QStringLiteral("The interlock's broker cannot be reached");
}

QString InterlockArbiter::owner() const
{
    if (m_state == State::Owner)
        return m_config.position;
    return m_claims.isEmpty() ? QString() : m_claims.first().position;
}

void InterlockArbiter::connected(qint64 nowMs)
{
    m_up = true;
    if (m_config.group.isEmpty())
        return;
    m_claims.clear();
    m_offline.clear();
    // Still keyed from before the loss (or keyed under Allow): the others
    // must learn of it. Otherwise a claim of an earlier run goes, before the
    // subscription could bring it back.
    if (m_state == State::Owner) {
        publishClaim();
        m_lastRenewMs = nowMs;
    } else {
        withdraw();
    }
    // Statuses first, so that a retained claim of a dead position is known
    // as such when it arrives.
    if (subscribe) {
        subscribe(m_prefix + QStringLiteral("+/status"));
        subscribe(claimTopic(QStringLiteral("+")));
    }
    noteOwner();
}

void InterlockArbiter::disconnected(qint64)
{
    m_up = false;
    m_claims.clear();
    if (m_state == State::Pending) {
        if (m_config.allowWhenBrokerLost) {
            m_state = State::Owner;
            if (granted)
                granted();
        } else {
            answerRefused(brokerLostMessage());
        }
    }
    noteOwner();
}

void InterlockArbiter::request(qint64 nowMs)
{
    // No group, or this position holds it already: nothing to settle.
    if (m_config.group.isEmpty() || m_state == State::Owner) {
        if (granted)
            granted();
        return;
    }
    if (m_state == State::Pending)
        return;
    if (!m_up) {
        if (m_config.allowWhenBrokerLost) {
            m_state = State::Owner;
            if (granted)
                granted();
            noteOwner();
        } else {
            answerRefused(brokerLostMessage());
        }
        return;
    }
    if (!m_claims.isEmpty()) {
        answerRefused(interlockedMessage(m_claims.first().position));
        return;
    }
    m_state = State::Pending;
    ++m_claimNumber;
    m_pendingSinceMs = nowMs;
    publishClaim();
}

void InterlockArbiter::release(qint64)
{
    if (m_config.group.isEmpty() || m_state == State::Idle)
        return;
    m_state = State::Idle;
    remove(m_config.position);
    withdraw();
    noteOwner();
}

void InterlockArbiter::messageArrived(const QString &topic, const QByteArray &payload, bool retained, qint64 nowMs)
{
    if (m_config.group.isEmpty() || !topic.startsWith(m_prefix))
        return;
    const QStringList levels = topic.mid(m_prefix.size()).split(QLatin1Char('/'));
    if (levels.size() == 2 && levels.at(1) == QLatin1String("status")) {
        const QString &position = levels.at(0);
        if (position == m_config.position)
            return;
        const bool offline = payload.trimmed() == "offline";
        m_offline.insert(position, offline);
        if (offline) {
            remove(position);
            noteOwner();
        }
        return;
    }
    if (levels.size() != 3 || levels.at(0) != QLatin1String("interlock") || levels.at(1) != m_config.group)
        return;
    const QString &leaf = levels.at(2);
    if (leaf == QLatin1String("inhibit")) {
        setInhibited(inhibitValue(payload));
        return;
    }
    if (payload.isEmpty()) {
        if (leaf != m_config.position) {
            remove(leaf);
            noteOwner();
        }
        return;
    }
    const QJsonObject claim = QJsonDocument::fromJson(payload).object();
    const int ttlMs = std::clamp(claim.value(QStringLiteral("ttl_ms")).toInt(m_config.ttlMs), MinTtlMs, MaxTtlMs);
    if (leaf == m_config.position) {
        // Only the echo of this run's claim, as it arrives now, counts.
        if (retained || m_state != State::Pending || claim.value(QStringLiteral("claim")).toInt() != m_claimNumber)
            return;
        add(leaf, false, ttlMs, nowMs);
        if (m_claims.first().position == m_config.position) {
            m_state = State::Owner;
            m_lastRenewMs = nowMs;
            noteOwner();
            if (granted)
                granted();
        } else {
            remove(leaf);
            withdraw();
            answerRefused(interlockedMessage(m_claims.first().position));
        }
        return;
    }
    if (retained && m_offline.value(leaf))
        return;
    if (!retained)
        m_offline.insert(leaf, false);
    add(leaf, retained, ttlMs, nowMs);
    noteOwner();
}

void InterlockArbiter::tick(qint64 nowMs)
{
    if (m_config.group.isEmpty())
        return;
    m_claims.removeIf([&](const Claim &claim) {
        return claim.position != m_config.position && nowMs - claim.seenMs > claim.ttlMs;
    });
    if (m_state == State::Pending && nowMs - m_pendingSinceMs > m_config.ttlMs) {
        // The claim never came back through a broker that seems up.
        remove(m_config.position);
        withdraw();
        answerRefused(brokerLostMessage());
    }
    if (m_state == State::Owner && m_up && nowMs - m_lastRenewMs >= m_config.renewMs) {
        publishClaim();
        m_lastRenewMs = nowMs;
    }
    noteOwner();
}

void InterlockArbiter::publishClaim()
{
    if (!publish || !m_up)
        return;
    const QJsonObject claim{{QStringLiteral("claim"), m_claimNumber}, {QStringLiteral("ttl_ms"), m_config.ttlMs}};
    publish(claimTopic(m_config.position), QJsonDocument(claim).toJson(QJsonDocument::Compact), true);
}

void InterlockArbiter::withdraw()
{
    if (publish && m_up)
        publish(claimTopic(m_config.position), QByteArray(), true);
}

void InterlockArbiter::remove(const QString &position)
{
    m_claims.removeIf([&](const Claim &claim) { return claim.position == position; });
}

void InterlockArbiter::add(const QString &position, bool retained, int ttlMs, qint64 nowMs)
{
    const auto found = std::find_if(m_claims.begin(), m_claims.end(),
                                    [&](const Claim &claim) { return claim.position == position; });
    if (found != m_claims.end()) {
        found->seenMs = nowMs;
        found->ttlMs = ttlMs;
        return;
    }
    const Claim claim{position, retained, nowMs, ttlMs};
    if (!retained) {
        m_claims.append(claim);
        return;
    }
    // Among the retained ones, which come before any seen live, by name.
    const auto at = std::find_if(m_claims.begin(), m_claims.end(), [&](const Claim &other) {
        return !other.retained || other.position > position;
    });
    m_claims.insert(at, claim);
}

void InterlockArbiter::answerRefused(const QString &message)
{
    m_state = State::Idle;
    if (refused)
        refused(message);
}

void InterlockArbiter::noteOwner()
{
    const QString current = owner();
    if (current == m_shownOwner)
        return;
    m_shownOwner = current;
    if (ownerChanged)
        ownerChanged(current);
}

void InterlockArbiter::setInhibited(bool inhibited)
{
    if (inhibited == m_inhibited)
        return;
    m_inhibited = inhibited;
    if (inhibitChanged)
        inhibitChanged(inhibited);
}
