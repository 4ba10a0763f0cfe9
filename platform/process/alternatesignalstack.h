#pragma once

#include <memory>

// A stack of its own for the signal handlers of the thread that creates it.
// A thread whose stack has run out (a runaway recursion) still runs the
// fatal-signal release on it; without one the kernel finds no room for the
// handler and the process dies with the outputs keyed. Every thread the
// program starts makes one first thing and keeps it to its end: the object
// must be destroyed on the thread that created it. Without Unix signals it
// does nothing.
class AlternateSignalStack
{
public:
    AlternateSignalStack();
    ~AlternateSignalStack();
    AlternateSignalStack(const AlternateSignalStack &) = delete;
    AlternateSignalStack &operator=(const AlternateSignalStack &) = delete;

private:
    std::unique_ptr<char[]> m_memory;
};
