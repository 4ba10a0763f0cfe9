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

    // Answers at once, as `answer` says.
    void ask(const QString &question, std::function<void()> yes) override
    {
        asked.append(question);
        if (answer)
            yes();
    }

    QStringList shown;
    QStringList asked;
    bool answer = true;
    // Runs as if while the box were open, for tests of what goes on meanwhile.
    std::function<void()> whileShown;
};
