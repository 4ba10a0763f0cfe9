#pragma once

#include "platform/messages.h"

class QtMessages : public Messages
{
public:
    void show(const QString &text) override;
};
