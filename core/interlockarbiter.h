#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

// Who of the positions of one interlock group may key the transmitter they
// share. Pure logic: the broker's messages, the requests and the time (in
// milliseconds, from any fixed start) come in as calls; what to publish and
// the answers go out through the callbacks. The MQTT connection is someone
// else's (PositionInterlock).
//
// Topics, under zelvo-footswitch2/<Station>/:
//   interlock/<Group>/<Position>  the position's claim, retained, QoS 1:
//                                 {"claim":<n>,"ttl_ms":3000}; empty: withdrawn
//   interlock/<Group>/inhibit     "1"/"0", "true"/"false" or {"inhibit":bool},
//                                 retained: any position inhibits the group
//   <Position>/status             "online"/"offline" (the will), retained
//
// Why two positions never key together while the broker is up. The broker
// handles one message at a time and sends each subscriber the messages of a
// topic filter in the order it handled them, so every position sees the
// claims in one shared order. Each position keeps the live claims it has
// seen in that order, and the group belongs to the first of them. A press
// publishes a claim and keys only when the position's own claim comes back
// (one round trip: the claim has settled) and it is then the first live one;
// otherwise it withdraws the claim at once and is refused. Two claims that
// cross are therefore decided alike everywhere: the one the broker handled
// first wins, the other sees it ahead of its own. A claim leaves the list
// only when it is withdrawn (after its position's chain has released), when
// its position's status turns "offline" (its will: the connection died), or
// when it was not renewed within its ttl, counted on the observer's own
// clock; the owner renews every second while keyed. A position thus sees
// the group free only when no other live claim is known, however late it
// joined.
//
// Claims found retained at subscription came before anything seen live, in
// an order nobody can know: they go first, sorted by position name, so that
// every position that subscribes to the same set names the same owner. Any
// of them still blocks a press until it is withdrawn, its position is
// offline or it expires, which errs on the side of refusing. A position
// withdraws a retained claim of its own, left by an earlier run, before it
// subscribes.
//
// What it does not cover: a position cut off from the broker while keyed
// goes on to its own release or time-out, and the others see the group free
// once its will or its claim's ttl frees it. Without the broker, requests
// are refused (Refuse) or granted without any interlock (Allow).
class InterlockArbiter
{
public:
    struct Config
    {
        QString station = QStringLiteral("station");
        QString position;
        QString group;
        bool allowWhenBrokerLost = false;
        // 1.5 times a keep-alive of 2 s: a silent owner frees the group this
        // long after its last renewal. The connection's own keep-alive is
        // 5 s, the least libmosquitto accepts, so its will may come later;
        // nothing waits for it.
        int ttlMs = 3000;
        int renewMs = 1000;

        bool operator==(const Config &) const = default;
    };

    explicit InterlockArbiter(const Config &config);

    // Outputs. Any may be left empty.
    std::function<void(const QString &topic, const QByteArray &payload, bool retained)> publish;
    std::function<void(const QString &pattern)> subscribe;
    std::function<void()> granted;
    std::function<void(const QString &message)> refused;
    // The position whose claim holds the group, or empty.
    std::function<void(const QString &owner)> ownerChanged;
    std::function<void(bool inhibited)> inhibitChanged;

    // The connection to the broker is up: withdraws this position's claim
    // left over (or claims again if still keyed) and subscribes.
    void connected(qint64 nowMs);
    // The connection is lost: a pending request is refused (or granted with
    // Allow); what is known of the others is forgotten.
    void disconnected(qint64 nowMs);
    // A source wants to key and the chain is released.
    void request(qint64 nowMs);
    // The chain has released every output, or the source let go before the
    // answer: the claim is withdrawn.
    void release(qint64 nowMs);
    void messageArrived(const QString &topic, const QByteArray &payload, bool retained, qint64 nowMs);
    // Renews this position's claim and lets the others' expire; call it
    // every few hundred milliseconds.
    void tick(qint64 nowMs);

    QString owner() const;
    bool isKeyed() const { return m_state == State::Owner; }
    bool isPending() const { return m_state == State::Pending; }
    bool isBrokerUp() const { return m_up; }
    bool isInhibited() const { return m_inhibited; }

    QString claimTopic(const QString &position) const;
    QString inhibitTopic() const;
    QString statusTopic(const QString &position) const;
    static QString interlockedMessage(const QString &owner);
    static QString brokerLostMessage();

private:
    enum class State { Idle, Pending, Owner };
    struct Claim
    {
        QString position;
        bool retained = false;
        qint64 seenMs = 0;
        int ttlMs = 0;
    };

    void publishClaim();
    void withdraw();
    void remove(const QString &position);
    void add(const QString &position, bool retained, int ttlMs, qint64 nowMs);
    void settle(qint64 nowMs);
    void answerRefused(const QString &message);
    void noteOwner();
    void setInhibited(bool inhibited);

    Config m_config;
    QString m_prefix;
    bool m_up = false;
    State m_state = State::Idle;
    // This run's claims are numbered, so that the echo of an earlier one
    // is not taken for the answer to this one.
    int m_claimNumber = 0;
    qint64 m_lastRenewMs = 0;
    qint64 m_pendingSinceMs = 0;
    // The live claims, owner first.
    QList<Claim> m_claims;
    QMap<QString, bool> m_offline;
    QString m_shownOwner;
    bool m_inhibited = false;
};
