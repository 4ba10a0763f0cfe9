#pragma once

#include <QtGlobal>

#include <optional>

// Tells a footswitch's real presses and releases from contact bounce and
// glitches on the line: a new level counts only once it has held for the
// debounce time. Pure logic on the caller's clock (milliseconds); the caller
// samples the line whenever it likes (poll tick, line-change report) and
// samples again at recheckAtMs(), so that the last level always gets
// through even when the line then stays quiet.
class FootswitchDebouncer
{
public:
    static constexpr int maximumDebounceMs = 500;

    // 0 confirms every level at once; values are kept within 0..500.
    explicit FootswitchDebouncer(int debounceMs = 0);

    int debounceMs() const { return m_debounceMs; }

    // Takes `level` as confirmed, with nothing pending (at port open).
    void reset(bool level);
    // The confirmed level.
    bool level() const { return m_level; }

    // Feeds one read of the line. True when this sample changed level().
    bool sample(bool raw, qint64 nowMs);

    // When the caller must read the line again to confirm a pending change
    // (the first differing sample's time plus the debounce time); empty
    // when nothing is pending.
    std::optional<qint64> recheckAtMs() const;

private:
    int m_debounceMs = 0;
    bool m_level = false;
    std::optional<qint64> m_differingSinceMs;
};
