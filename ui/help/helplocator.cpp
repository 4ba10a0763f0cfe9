#include "ui/help/helplocator.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <utility>

HelpLocator::HelpLocator(QString programDir, QString installedHelp, QString buildDir, QString sourceHelp)
    : m_programDir(std::move(programDir))
    , m_installedHelp(std::move(installedHelp))
    , m_buildDir(std::move(buildDir))
    , m_sourceHelp(std::move(sourceHelp))
{
}

HelpLocator HelpLocator::forRunningProgram()
{
    return forProgramIn(QCoreApplication::applicationDirPath());
}

HelpLocator HelpLocator::forProgramIn(const QString &programDir)
{
    // Set by the build: the install layout relative to the program's folder,
    // the build tree and the help page in the source tree.
    return HelpLocator(programDir,
                       QStringLiteral(ZELVO_HELP_FROM_PROGRAM_DIR),
                       QStringLiteral(ZELVO_BUILD_DIR),
                       QStringLiteral(ZELVO_SOURCE_HELP));
}

QStringList HelpLocator::candidates() const
{
    QStringList places;
    if (!m_programDir.isEmpty() && !m_installedHelp.isEmpty())
        places.append(QDir::cleanPath(QDir(m_programDir).absoluteFilePath(m_installedHelp)));
    // Only from the build tree: an installed program would otherwise name,
    // and maybe open, a page in a source tree that has moved on since.
    if (runsFromBuildTree() && !m_sourceHelp.isEmpty())
        places.append(QDir::cleanPath(m_sourceHelp));
    places.removeDuplicates();
    return places;
}

QString HelpLocator::find() const
{
    for (const QString &place : candidates()) {
        if (QFileInfo(place).isFile())
            return place;
    }
    return {};
}

bool HelpLocator::runsFromBuildTree() const
{
    if (m_programDir.isEmpty() || m_buildDir.isEmpty())
        return false;
    // Canonical paths, since either may reach the same folder through a
    // symbolic link; a folder that does not exist matches nothing.
    const QString program = QFileInfo(m_programDir).canonicalFilePath();
    return !program.isEmpty() && program == QFileInfo(m_buildDir).canonicalFilePath();
}
