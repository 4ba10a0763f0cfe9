#pragma once

#include "platform/desktop/windowstacking.h"

#include <QList>

class FakeWindowStacking : public WindowStacking
{
public:
    void setAlwaysOnTop(QWidget *, bool onTop) override { calls.append(onTop); }

    QList<bool> calls;
};
