#pragma once

#include "platform/desktop/helpviewer.h"

#include <QString>
#include <QStringList>

class FakeHelpViewer : public HelpViewer
{
public:
    bool showContents(const QString &file) override
    {
        shown.append(file);
        return opens;
    }

    QStringList shown;
    // What the viewer answers: false as if no viewer were installed.
    bool opens = true;
};
