#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// A file of text lines that only grows at its end, kept to a bound: a line
// that would take it past maxBytes first moves it to NAME.1 (replacing the
// one before), and the new file starts with the header line. The lines thus
// take at most twice the bound on the disk. The file is opened for each line
// and closed again, so that a file moved or deleted meanwhile is simply
// started again. Plain blocking file access: for a worker thread.
class BoundedLineFile
{
public:
    BoundedLineFile(const QString &fileName, const QByteArray &header, qint64 maxBytes)
        : m_fileName(fileName)
        , m_header(header)
        , m_maxBytes(maxBytes)
    {
    }

    QString fileName() const { return m_fileName; }
    QString rotatedFileName() const { return m_fileName + QStringLiteral(".1"); }

    // Appends one line (given without its line end), creating the folder
    // and the file as needed. Empty, or why it failed in words.
    QString append(const QByteArray &line) const;
    // The lines of the older file, then of the current one, oldest first,
    // without the header and empty lines. A file that is not there has none.
    QList<QByteArray> lines() const;

private:
    QString m_fileName;
    QByteArray m_header;
    qint64 m_maxBytes = 0;
};
