#pragma once

#include <QString>

// Starts another program and returns at once, without watching it.
class ProgramLauncher
{
public:
    virtual ~ProgramLauncher() = default;

    // Starts the program file `program` itself, with no arguments, in a
    // normal window. False when it cannot be started.
    virtual bool launch(const QString &program) = 0;
};
