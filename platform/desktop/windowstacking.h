#pragma once

class QWidget;

// Makes a top-level window topmost or not, without moving, resizing, hiding
// or activating it.
class WindowStacking
{
public:
    virtual ~WindowStacking() = default;

    virtual void setAlwaysOnTop(QWidget *window, bool onTop) = 0;
};
