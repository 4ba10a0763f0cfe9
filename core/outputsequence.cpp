#include "core/outputsequence.h"

#include <algorithm>

OutputSequence::OutputSequence(const QList<Timing> &timings, qint64 ticksPerMs)
    : m_ticksPerMs(ticksPerMs)
{
    for (const Timing &timing : timings) {
        Output output;
        output.timing.leadMs = std::clamp(timing.leadMs, 0, maxTimingMs);
        output.timing.tailMs = std::clamp(timing.tailMs, 0, maxTimingMs);
        m_outputs.append(output);
    }
}

int OutputSequence::releaseWalkMs() const
{
    int total = 0;
    for (const Output &output : m_outputs)
        total += output.timing.tailMs;
    return total;
}

bool OutputSequence::isSettled() const
{
    return m_keyedCount == (m_wantsKeyed ? outputCount() : 0);
}

void OutputSequence::setWanted(bool keyed, qint64 now)
{
    if (keyed == m_wantsKeyed)
        return;
    m_wantsKeyed = keyed;
    m_wantedAt = now;
}

std::optional<qint64> OutputSequence::dueAt() const
{
    if (isSettled())
        return std::nullopt;
    if (m_wantsKeyed) {
        // The next output keys once the last keyed one's lead has passed.
        const int next = m_keyedCount;
        if (next == 0)
            return m_wantedAt;
        const Output &before = m_outputs.at(next - 1);
        return std::max(m_wantedAt, *before.keyedAt + before.timing.leadMs * m_ticksPerMs);
    }
    // The last keyed output releases once its tail has passed since the one
    // after it released; if that one never keyed in the meantime, at once.
    const int last = m_keyedCount - 1;
    const Output &output = m_outputs.at(last);
    if (last + 1 < outputCount()) {
        const Output &after = m_outputs.at(last + 1);
        if (after.releasedAt && *after.releasedAt >= *output.keyedAt)
            return std::max(m_wantedAt, *after.releasedAt + output.timing.tailMs * m_ticksPerMs);
    }
    return m_wantedAt;
}

std::optional<qint64> OutputSequence::nextStepAt() const
{
    return dueAt();
}

QList<OutputSequence::Step> OutputSequence::advance(qint64 now)
{
    QList<Step> steps;
    while (const std::optional<Step> step = takeStep(now))
        steps.append(*step);
    return steps;
}

std::optional<OutputSequence::Step> OutputSequence::takeStep(qint64 now)
{
    const std::optional<qint64> due = dueAt();
    if (!due || *due > now)
        return std::nullopt;
    // Now, not when it was due: the next lead or tail runs from the moment
    // the output really changed.
    if (m_wantsKeyed) {
        m_outputs[m_keyedCount].keyedAt = now;
        m_lastStep = Step{m_keyedCount++, true, now};
    } else {
        --m_keyedCount;
        m_outputs[m_keyedCount].releasedAt = now;
        m_lastStep = Step{m_keyedCount, false, now};
    }
    return m_lastStep;
}

void OutputSequence::stepTookEffect(qint64 at)
{
    if (!m_lastStep)
        return;
    // Only while the output is where that step left it.
    Output &output = m_outputs[m_lastStep->output];
    const bool keyed = m_lastStep->output < m_keyedCount;
    if (m_lastStep->keyed && keyed)
        output.keyedAt = std::max(*output.keyedAt, at);
    else if (!m_lastStep->keyed && !keyed)
        output.releasedAt = std::max(*output.releasedAt, at);
    m_lastStep.reset();
}

void OutputSequence::dropLast()
{
    if (m_keyedCount == 0)
        return;
    m_lastStep.reset();
    --m_keyedCount;
    m_outputs[m_keyedCount].keyedAt.reset();
    m_outputs[m_keyedCount].releasedAt.reset();
}
