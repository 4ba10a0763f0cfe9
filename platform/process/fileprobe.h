#pragma once

#include <QString>

// Looks for a file by its full name.
class FileProbe
{
public:
    enum class Result {
        PlainFile, // a plain file, neither hidden nor a system file
        Absent,    // nothing there, or a folder, a hidden or a system file
        Rejected,  // the file system does not accept the name
    };

    virtual ~FileProbe() = default;

    virtual Result probe(const QString &path) = 0;
};
