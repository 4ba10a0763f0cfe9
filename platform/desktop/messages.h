#pragma once

#include <QString>

#include <functional>

// Tells the user something: a modal message box with an OK button alone, no
// icon, and the application title as its caption; or asks a question. Both
// return at once; the box stays modal until the user dismisses it.
class Messages
{
public:
    virtual ~Messages() = default;

    virtual void show(const QString &text) = 0;
    // The same with Yes and No, No the default: `yes` runs later, from the
    // event loop, if the user answers Yes.
    virtual void ask(const QString &question, std::function<void()> yes) = 0;
};
