#pragma once

#include <QString>
#include <QStringList>

// The test's side of the modem-line library (tests/modemlines): reads the
// lines the code under test drives, drives the lines the far end would, and
// reads the library's log of requests.
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
    // Log entries of a device, each as its "key=value" fields.
    QList<QStringList> requests(const QString &device) const;
    // Entries of one kind ("get", "wait", "woke", ...).
    QList<QStringList> requests(const QString &device, const QString &op) const;
    // Entries that wrote RTS.
    QList<QStringList> rtsWrites(const QString &device) const;

    static QString field(const QStringList &entry, const QString &key);

private:
    QString linesPath(const QString &device) const;

    QString m_directory;
};
