#pragma once

#include "platform/desktop/messages.h"

#include <QStringList>

#include <functional>

class FakeMessages : public Messages
{
public:
    void show(const QString &text) override
    {
        shown.append(text);
        if (whileShown)
            whileShown();
    }

    QStringList shown;
    // Runs as if while the box were open, for tests of what goes on meanwhile.
    std::function<void()> whileShown;
};
