#pragma once

class QWidget;

// Keeps a top-level window out of the task bar without making it a tool or
// dialog window, which the window manager would stack differently.
class TaskbarPresence
{
public:
    virtual ~TaskbarPresence() = default;

    // Call before every showing of the window: the window manager forgets
    // the wish when the window is hidden.
    virtual void skipTaskbar(QWidget *window) = 0;
};
