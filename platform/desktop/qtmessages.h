#pragma once

#include "platform/desktop/messages.h"

// Message boxes with the caption the program gives them.
class QtMessages : public Messages
{
public:
    explicit QtMessages(const QString &caption)
        : m_caption(caption)
    {
    }

    void show(const QString &text) override;
    void ask(const QString &question, std::function<void()> yes) override;

private:
    QString m_caption;
};
