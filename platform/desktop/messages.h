#pragma once

#include <QString>

// Tells the user something: a modal message box with an OK button alone, no
// icon, and the application title as its caption. show() returns at once;
// the box stays modal until the user dismisses it.
class Messages
{
public:
    virtual ~Messages() = default;

    virtual void show(const QString &text) = 0;
};
