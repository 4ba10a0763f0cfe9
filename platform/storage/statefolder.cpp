#include "platform/storage/statefolder.h"

#include <QDir>

QString userStateFolder()
{
    const QString set = qEnvironmentVariable("XDG_STATE_HOME");
    if (!set.isEmpty() && QDir::isAbsolutePath(set))
        return QDir::cleanPath(set);
    return QDir::homePath() + QStringLiteral("/.local/state");
}
