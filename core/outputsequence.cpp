#include "core/outputsequence.h"

#include <algorithm>

OutputSequence::OutputSequence(const QList<Timing> &timings)
{
    for (const Timing &timing : timings) {
        Output output;
        output.timing.leadMs = std::clamp(timing.leadMs, 0, maxTimingMs);
        output.timing.tailMs = std::clamp(timing.tailMs, 0, maxTimingMs);
        m_outputs.append(output);
    }
}

bool OutputSequence::isSettled() const
{
    return m_keyedCount == (m_wantsKeyed ? outputCount() : 0);
}

void OutputSequence::setWanted(bool keyed, qint64 nowMs)
{
    if (keyed == m_wantsKeyed)
        return;
    m_wantsKeyed = keyed;
    m_wantedAtMs = nowMs;
}

std::optional<qint64> OutputSequence::dueAtMs() const
{
    if (isSettled())
        return std::nullopt;
    if (m_wantsKeyed) {
        // The next output keys once the last keyed one's lead has passed.
        const int next = m_keyedCount;
        if (next == 0)
            return m_wantedAtMs;
        const Output &before = m_outputs.at(next - 1);
        return std::max(m_wantedAtMs, *before.keyedAtMs + before.timing.leadMs);
    }
    // The last keyed output releases once its tail has passed since the one
    // after it released; if that one never keyed in the meantime, at once.
    const int last = m_keyedCount - 1;
    const Output &output = m_outputs.at(last);
    if (last + 1 < outputCount()) {
        const Output &after = m_outputs.at(last + 1);
        if (after.releasedAtMs && *after.releasedAtMs >= *output.keyedAtMs)
            return std::max(m_wantedAtMs, *after.releasedAtMs + output.timing.tailMs);
    }
    return m_wantedAtMs;
}

std::optional<qint64> OutputSequence::nextStepAtMs() const
{
    return dueAtMs();
}

QList<OutputSequence::Step> OutputSequence::advance(qint64 nowMs)
{
    QList<Step> steps;
    for (std::optional<qint64> due = dueAtMs(); due && *due <= nowMs; due = dueAtMs()) {
        if (m_wantsKeyed) {
            Output &output = m_outputs[m_keyedCount];
            output.keyedAtMs = *due;
            steps.append(Step{m_keyedCount, true, *due});
            ++m_keyedCount;
        } else {
            --m_keyedCount;
            m_outputs[m_keyedCount].releasedAtMs = *due;
            steps.append(Step{m_keyedCount, false, *due});
        }
    }
    return steps;
}

void OutputSequence::dropAll()
{
    m_wantsKeyed = false;
    m_keyedCount = 0;
    for (Output &output : m_outputs) {
        output.keyedAtMs.reset();
        output.releasedAtMs.reset();
    }
}
