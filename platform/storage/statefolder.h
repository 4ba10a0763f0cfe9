#pragma once

#include <QString>

// Where a program keeps what it records for the user across runs (logs,
// history): $XDG_STATE_HOME, or ~/.local/state when it is unset or not an
// absolute path (the XDG base directory rules ignore a relative one).
QString userStateFolder();
