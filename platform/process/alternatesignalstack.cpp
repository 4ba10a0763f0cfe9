#include "platform/process/alternatesignalstack.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <csignal>
#include <cstddef>

namespace {

// The handlers make a few system calls; the room is for what the kernel puts
// on the stack with them (the saved registers, large with AVX-512).
constexpr std::size_t stackSize = 64 * 1024;

} // namespace

AlternateSignalStack::AlternateSignalStack()
    : m_memory(new char[stackSize])
{
    stack_t stack = {};
    stack.ss_sp = m_memory.get();
    stack.ss_size = stackSize;
    if (::sigaltstack(&stack, nullptr) != 0)
        m_memory.reset();
}

AlternateSignalStack::~AlternateSignalStack()
{
    // Off before the memory goes: a signal now runs on the thread's own stack.
    if (!m_memory)
        return;
    stack_t off = {};
    off.ss_flags = SS_DISABLE;
    ::sigaltstack(&off, nullptr);
}

#else

AlternateSignalStack::AlternateSignalStack() = default;
AlternateSignalStack::~AlternateSignalStack() = default;

#endif
