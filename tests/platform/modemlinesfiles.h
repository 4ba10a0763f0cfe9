#pragma once

#include <QJsonArray>
#include <QString>
#include <QStringList>

// The test's side of the modem-line library (tests/modemlines), through the
// rig's ModemLines (python3 -m zelvo_e2e modemlines): reads the lines the
// code under test drives, drives the lines the far end would, and reads the
// library's log of requests.
class ModemLinesFiles
{
public:
    // Whether the library is preloaded into this process.
    static bool libraryLoaded();

    explicit ModemLinesFiles(const QString &directory);

    // Value of one line ("RTS", "CTS", ...) of a device ("pts-N").
    bool line(const QString &device, const QString &name) const;
    // Sets one line as the far end would, under the library's lock.
    bool setLine(const QString &device, const QString &name, bool on);
    // Log entries of a device, of one kind ("get", "wait", "woke", ...) or
    // all; each {"op", "pid", "t", "lines": ["RTS", ...], "values": {"RTS": 0|1, ...}}.
    QJsonArray requests(const QString &device, const QString &op = {}) const;
    // Entries that wrote RTS.
    QJsonArray rtsWrites(const QString &device) const;

private:
    QByteArray run(const QString &device, const QStringList &request) const;

    QString m_directory;
};
