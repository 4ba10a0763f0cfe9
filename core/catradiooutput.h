#pragma once

#include "core/keyedoutput.h"
#include "platform/cat/hamlibrig.h"

#include <QTimer>

class QThread;

// A radio keyed through its CAT interface (Hamlib, on the Hamlib thread).
// Kept open like a port: a rig that does not open, fails or stops answering
// is tried again every few seconds, and told once per failure. Each open
// sets PTT off and reads it back before the rig counts as ready, so a
// release that never arrived is sent again at every retry.
//
// The radio is watched: PTT is read every WatchActiveMs while the chain is
// keyed or walking, every WatchIdleMs otherwise. A rig that does not answer
// within CatRig::ReadTimeoutMs, fails, or whose PTT is not where it was set
// is lost, and the engine releases the rest of the chain.
//
// What it cannot do: a crash or a freeze of this program leaves the radio
// as it was, because no CAT command can be sent from a signal handler or a
// stuck thread, and rigctld keeps PTT on when its client goes. Only the
// radio's own transmit time-out covers that.
class CatRadioOutput : public KeyedOutput
{
    Q_OBJECT

public:
    static constexpr int RetryMs = 2000;
    static constexpr int WatchActiveMs = 500;
    static constexpr int WatchIdleMs = 5000;

    CatRadioOutput(QThread &hamlibThread, const RigAddress &address, QObject *parent = nullptr);

    void open() override;
    void close() override;
    bool isReady() const override { return m_state == PortSupervisor::State::Ready; }
    bool drive(bool keyed) override;
    int confirmBoundMs() const override { return CatRig::AnswerTimeoutMs; }
    void abandon() override;
    void setChainActive(bool active) override;
    PortSupervisor::State state() const override { return m_state; }
    int retries() const override { return m_retries; }
    QString location() const override;

private:
    void setState(PortSupervisor::State state);
    void failed(const QString &error, bool wasReady);
    void retry();
    void watch();

    RigAddress m_address;
    CatRig m_rig;
    QTimer m_retry;
    QTimer m_watch;
    PortSupervisor::State m_state = PortSupervisor::State::Closed;
    int m_retries = 0;
    bool m_failureTold = false;
    // What was last asked of the radio; whether it may be on the air.
    bool m_keyed = false;
    bool m_mayTransmit = false;
};
