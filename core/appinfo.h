#pragma once

#include <QString>

// The application's identity as the user sees it. The settings store uses a
// different spelling ("Zelvo-Footswitch2"), which stored settings rely on.
namespace AppInfo {

inline QString title() { return QStringLiteral("Zelvo-FootSwitch2"); }

constexpr int versionMajor = ZELVO_VERSION_MAJOR;
constexpr int versionMinor = ZELVO_VERSION_MINOR;
constexpr int versionRevision = ZELVO_VERSION_PATCH;

} // namespace AppInfo
