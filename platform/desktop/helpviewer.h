#pragma once

class QString;

// Asks the platform to show a help file in a viewer of its own. Returns at
// once; the viewer runs outside the program. False when no viewer could be
// asked to open the file.
class HelpViewer
{
public:
    virtual ~HelpViewer() = default;

    virtual bool showContents(const QString &file) = 0;
};
