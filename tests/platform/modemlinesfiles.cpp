#include "modemlinesfiles.h"

#include "support/rigtool.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <dlfcn.h>

bool ModemLinesFiles::libraryLoaded()
{
    return dlsym(RTLD_DEFAULT, "zelvo_modemlines_loaded") != nullptr;
}

ModemLinesFiles::ModemLinesFiles(const QString &directory)
    : m_directory(directory)
{
}

QByteArray ModemLinesFiles::run(const QString &device, const QStringList &request) const
{
    QString errors;
    const std::optional<QByteArray> output =
        runRigTool(QStringList{QStringLiteral("modemlines"), m_directory, device} + request, &errors);
    // An empty answer would pass for "no requests": a broken rig must not.
    if (!output)
        qFatal("%s", qPrintable(errors));
    return *output;
}

bool ModemLinesFiles::line(const QString &device, const QString &name) const
{
    return QJsonDocument::fromJson(run(device, {QStringLiteral("state")})).object().value(name).toInt() == 1;
}

bool ModemLinesFiles::setLine(const QString &device, const QString &name, bool on)
{
    run(device, {QStringLiteral("drive"), name + QLatin1Char('=') + QLatin1Char(on ? '1' : '0')});
    return true;
}

QJsonArray ModemLinesFiles::requests(const QString &device, const QString &op) const
{
    const QStringList kind = op.isEmpty() ? QStringList{} : QStringList{QStringLiteral("--op"), op};
    return QJsonDocument::fromJson(run(device, QStringList{QStringLiteral("log")} + kind)).array();
}

QJsonArray ModemLinesFiles::rtsWrites(const QString &device) const
{
    return QJsonDocument::fromJson(run(device, {QStringLiteral("log"), QStringLiteral("--writes"), QStringLiteral("RTS")}))
        .array();
}
