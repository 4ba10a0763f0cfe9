#pragma once

#include "platform/desktop/helpviewer.h"

// The desktop's handler for the file's type (a web browser for HTML), found
// through QDesktopServices: xdg-open on Linux.
class DesktopHelpViewer : public HelpViewer
{
public:
    bool showContents(const QString &file) override;
};
