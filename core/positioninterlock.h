#pragma once

#include "core/interlockarbiter.h"
#include "core/keyinggate.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class MqttClient;

// The interlock of this position with the others of its group, over the
// broker connection given: the claim logic (InterlockArbiter) on the
// client's messages, with its clock and tick. Make it before the client is
// started, so that it sees the first connection.
//
// The engine calls request() when a source wants to key and the chain is
// released, and keys only on granted(); it calls chainReleased() once the
// chain has released every output after being keyed, or when the source let
// go before the answer (an answer still on its way is then dropped). The
// answer never comes from within request(): it is queued, even when it is
// known at once (no group, a refusal, Allow).
class PositionInterlock : public KeyingGate
{
    Q_OBJECT

public:
    PositionInterlock(MqttClient &client, const InterlockArbiter::Config &config, QObject *parent = nullptr);

    // Asked only in a group: a position alone keys as it always did.
    bool isRequired() const override { return m_required; }
    void request() override;
    void chainReleased() override;

    // The position whose claim holds the group ("" when free).
    QString owner() const { return m_arbiter.owner(); }
    bool isBrokerUp() const { return m_arbiter.isBrokerUp(); }
    bool isInhibited() const { return m_arbiter.isInhibited(); }

signals:
    // granted(), refused() and inhibitChanged() are the gate's; the group's
    // remote inhibit (…/interlock/<group>/inhibit) is its inhibitChanged().
    void ownerChanged(const QString &owner);
    void brokerStateChanged(bool up, const QString &message);

private:
    qint64 now() const { return m_clock.elapsed(); }

    MqttClient &m_client;
    const bool m_required;
    InterlockArbiter m_arbiter;
    QElapsedTimer m_clock;
    QTimer m_tick;
    // Which request an answer belongs to.
    quint64 m_serial = 0;
};
