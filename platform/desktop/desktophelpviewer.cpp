#include "platform/desktop/desktophelpviewer.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

bool DesktopHelpViewer::showContents(const QString &file)
{
    // A file URL rather than a bare path, so that names with spaces or '#'
    // reach the viewer unchanged.
    return QDesktopServices::openUrl(QUrl::fromLocalFile(file));
}
