#pragma once

#include "platform/process/programlauncher.h"

// Starts the program as a process of its own that outlives this one.
class DetachedProgramLauncher : public ProgramLauncher
{
public:
    bool launch(const QString &program) override;
};
