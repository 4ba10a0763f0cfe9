#pragma once

#include <QDeadlineTimer>
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

// Starts a command that says "listening PORT" once it serves and runs until
// its input ends: the port, or 0 when it did not say so within 20 s.
inline quint16 startListeningRigTool(QProcess &process, const QStringList &arguments)
{
    startRigTool(process, arguments);
    const QDeadlineTimer deadline(20000);
    while (!process.canReadLine() && process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
    }
    if (!process.canReadLine())
        return 0;
    const QList<QByteArray> words = process.readLine().trimmed().split(' ');
    return words.size() == 2 && words.first() == "listening" ? quint16(words.last().toUInt()) : 0;
}

// Ends such a command: the end of its input stops the program it runs, and
// the rig's process with it.
inline void stopRigTool(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.closeWriteChannel();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}
