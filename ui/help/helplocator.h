#pragma once

#include <QString>
#include <QStringList>

// Where the program's help page may lie, in the order it is looked for:
// beside the installed program (<prefix>/share/zelvo-footswitch2/help next to
// <prefix>/bin), then, only when the program runs from the build tree it was
// built in, the page in the source tree. The candidates are kept so that a
// help page that is nowhere can be reported with the places looked at.
class HelpLocator
{
public:
    // programDir: the folder the running program lies in. installedHelp: the
    // installed page relative to that folder. buildDir, sourceHelp: the build
    // tree, and the page in the source tree that serves it.
    explicit HelpLocator(QString programDir,
                         QString installedHelp,
                         QString buildDir = {},
                         QString sourceHelp = {});

    // For the running program, with the install layout and the build tree
    // it was built for.
    static HelpLocator forRunningProgram();
    // The same for a program in the given folder.
    static HelpLocator forProgramIn(const QString &programDir);

    QStringList candidates() const;

    // The first candidate that exists as a file; empty if none does.
    QString find() const;

private:
    bool runsFromBuildTree() const;

    QString m_programDir;
    QString m_installedHelp;
    QString m_buildDir;
    QString m_sourceHelp;
};
