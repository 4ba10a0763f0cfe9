#pragma once

#include "core/keyedoutput.h"
#include "platform/cat/hamlibrig.h"

#include <QTimer>

class QThread;

// A radio keyed through its CAT interface (Hamlib, on the Hamlib thread).
// Kept open like a port: a rig that does not open, fails or stops answering
// is tried again every few seconds, and told once per failure.
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

    CatRadioOutput(QThread &hamlibThread, const RigAddress &address, QObject *parent = nullptr);

    void open() override;
    void close() override;
    bool isReady() const override { return m_state == PortSupervisor::State::Ready; }
    bool drive(bool keyed) override;
    PortSupervisor::State state() const override { return m_state; }
    int retries() const override { return m_retries; }
    QString location() const override;

private:
    void setState(PortSupervisor::State state);
    void failed(const QString &error, bool wasReady);
    void retry();

    RigAddress m_address;
    CatRig m_rig;
    QTimer m_retry;
    PortSupervisor::State m_state = PortSupervisor::State::Closed;
    int m_retries = 0;
    bool m_failureTold = false;
    bool m_keyed = false;
};
