#pragma once

#include "core/keyedoutput.h"

#include <QStringList>

// A radio in memory, as the engine's output: what it was asked ("on",
// "off"), and its PTT as the radio itself has it. A step is confirmed at
// once, or only when the test answers it (a slow radio), or never (a radio
// gone silent).
class FakeRadioOutput : public KeyedOutput
{
public:
    using KeyedOutput::KeyedOutput;

    bool answersAtOnce = true;
    bool ptt = false;
    // Kept by the test, across the radios a rebuilt chain makes.
    QStringList *asked = nullptr;

    // The radio has done what it was last asked.
    void answer()
    {
        if (!m_pending)
            return;
        ptt = *std::exchange(m_pending, std::nullopt);
        emit confirmed(ptt);
    }
    // It stops answering and is found out: whatever it was doing stops.
    void die()
    {
        ptt = false;
        m_pending.reset();
        setState(PortSupervisor::State::Lost);
        emit lost();
    }

    void open() override
    {
        setState(PortSupervisor::State::Ready);
        emit ready();
    }
    void close() override
    {
        ptt = false;
        m_pending.reset();
        setState(PortSupervisor::State::Closed);
    }
    bool isReady() const override { return m_state == PortSupervisor::State::Ready; }
    bool drive(bool keyed) override
    {
        if (!isReady()) {
            if (!keyed)
                emit confirmed(false);
            return !keyed;
        }
        if (asked)
            *asked << (keyed ? QStringLiteral("on") : QStringLiteral("off"));
        m_pending = keyed;
        if (answersAtOnce)
            answer();
        return true;
    }
    int confirmBoundMs() const override { return 2000; }
    // Given up while a release is unanswered: it may still be on the air.
    void abandon() override
    {
        m_pending.reset();
        setState(PortSupervisor::State::Lost);
        emit lost();
    }
    PortSupervisor::State state() const override { return m_state; }
    int retries() const override { return 0; }
    QString location() const override { return QStringLiteral("CAT fake"); }

private:
    void setState(PortSupervisor::State state)
    {
        m_state = state;
        emit stateChanged();
    }

    PortSupervisor::State m_state = PortSupervisor::State::Closed;
    std::optional<bool> m_pending;
};
