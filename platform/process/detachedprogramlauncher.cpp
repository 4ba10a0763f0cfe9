#include "platform/process/detachedprogramlauncher.h"

#include <QProcess>

bool DetachedProgramLauncher::launch(const QString &program)
{
    // The path is the program, not a command line: "C:\Program Files\..."
    // must not be split at its spaces into a program and arguments.
    if (program.isEmpty())
        return false;
    return QProcess::startDetached(program, {});
}
