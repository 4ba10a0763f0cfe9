#pragma once

#include <QProcess>
#include <QStringList>

#include <optional>

// The end-to-end rig's parts (tests/e2e/zelvo_e2e) run for a C++ test as
// "python3 -m zelvo_e2e COMMAND ...": certificates, ser2net and the
// modem-line log exist once, in Python (see the package's __main__.py).
// ZELVO_E2E_DIR is tests/e2e; Debian's python3 is the one with python3-serial.
inline void startRigTool(QProcess &process, const QStringList &arguments)
{
    process.setWorkingDirectory(QStringLiteral(ZELVO_E2E_DIR));
    process.start(QStringLiteral("/usr/bin/python3"), QStringList{QStringLiteral("-m"), QStringLiteral("zelvo_e2e")} + arguments);
}

// Runs a command to its end: its standard output, or nothing and why in `errors`.
inline std::optional<QByteArray> runRigTool(const QStringList &arguments, QString *errors = nullptr)
{
    QProcess process;
    startRigTool(process, arguments);
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return process.readAllStandardOutput();
    if (errors)
        *errors = arguments.join(QLatin1Char(' ')) + QLatin1String(": ") + process.errorString() + QLatin1Char('\n')
                  + QString::fromLocal8Bit(process.readAllStandardError());
    return std::nullopt;
}
