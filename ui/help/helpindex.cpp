#include "ui/help/helpindex.h"

#include "ui/help/helplocator.h"
#include "platform/desktop/helpviewer.h"
#include "platform/desktop/messages.h"

#include <QDir>

namespace {

QString listed(const QStringList &places)
{
    QStringList lines;
    for (const QString &place : places)
        lines.append(QDir::toNativeSeparators(place));
    return lines.join(QLatin1Char('\n'));
}

} // namespace

void HelpIndex::show(const HelpLocator &locator, HelpViewer *viewer, Messages *messages)
{
    const QString page = locator.find();
    QString problem;
    if (page.isEmpty()) {
        problem = QStringLiteral("The help was not found. Looked for:\n%1").arg(listed(locator.candidates()));
    } else if (!viewer || !viewer->showContents(page)) {
        problem = QStringLiteral("No viewer could open the help:\n%1").arg(QDir::toNativeSeparators(page));
    }
    if (!problem.isEmpty() && messages)
        messages->show(problem);
}
