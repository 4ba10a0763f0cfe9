#pragma once

#include "platform/desktop/taskbarpresence.h"

#include <QList>
#include <QPointer>
#include <QWidget>
#include <QWindow>

class FakeTaskbarPresence : public TaskbarPresence
{
public:
    void skipTaskbar(QWidget *window) override
    {
        skipped.append(window);
        // Must be asked before the window is on the screen.
        mappedWhenAsked.append(window->windowHandle() && window->windowHandle()->isExposed());
    }

    QList<QPointer<QWidget>> skipped;
    QList<bool> mappedWhenAsked;
};
