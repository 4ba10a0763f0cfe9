#pragma once

#include "platform/serial/serialportdevice.h"

// Drops the transmitter's relay lines when the program dies of a fatal signal
// (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGQUIT, SIGTRAP, SIGSYS,
// SIGXCPU, SIGXFSZ), so that a crash while keyed does not leave a
// transmitter on the air: the last output of the chain first, as a release
// walk would, without its tails. The handler then lets the signal take its
// default course (core dump, exit status) as if it had not been there.
//
// The same release runs when something calls exit() while the output is
// keyed: a library ends the program that way without asking, and no window
// or engine code runs then. Qt's xcb platform does it when the X connection
// breaks (the X server died, the session ended), and older versions of its
// Wayland platform when the compositor goes. Later ones call _exit(), which
// no handler sees: there only the port's own hang-up on close (HUPCL) or the
// device server's release of a vanished client is left.
//
// This is the program's one piece of process-wide state: a signal handler
// has nowhere else to look. It holds only the armed releases (per output, a
// descriptor and a few bytes, copied into fixed storage), and nothing in the
// program reads it but the handler.
namespace FatalSignalRelease {

// Installs the handlers and registers the release at exit(). The signal
// handlers run on a stack of their own for the calling thread, so that a
// runaway recursion there still lets them run: call once, early, on the main
// thread (where the user interface and the relay run); every other thread
// makes its own AlternateSignalStack. An ordinary end has disarmed by then,
// and the exit release does nothing. Without Unix signals it does nothing.
void install();

// One slot per output of a sequence; the handler releases every armed one.
inline constexpr int slotCount = 4;

// Called on the user-interface thread as output `slot` is keyed: what the
// handler does if a fatal signal comes before disarm(). Kind::None disarms.
// Bytes beyond the fixed room for them (64) are not kept: then the handler
// shuts the socket down instead, which makes the far end drop the lines.
void arm(const SerialPortDevice::CrashRelease &release, int slot = 0);
// Called as the output is released: a crash then does nothing to it.
void disarm(int slot = 0);
// Disarms every slot that would write to `descriptor`: called before it
// closes, as a closed descriptor may be another file's by the time of a crash.
void disarmDescriptor(int descriptor);
// The descriptor the handler would release now for `slot`; -1 when disarmed.
int armedDescriptor(int slot = 0);

} // namespace FatalSignalRelease
