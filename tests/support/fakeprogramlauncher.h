#pragma once

#include "platform/process/programlauncher.h"

#include <QStringList>

// Records every launch. Like a real launch, an empty path starts nothing;
// `works` false makes every launch fail, as for a path that names no program.
class FakeProgramLauncher : public ProgramLauncher
{
public:
    bool launch(const QString &program) override
    {
        launched.append(program);
        return works && !program.isEmpty();
    }

    bool works = true;
    QStringList launched;
};
