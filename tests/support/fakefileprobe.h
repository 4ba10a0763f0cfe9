#pragma once

#include "platform/process/fileprobe.h"

#include <QMap>
#include <QStringList>

// Files by full name; any other name is absent. Records every name probed.
class FakeFileProbe : public FileProbe
{
public:
    Result probe(const QString &path) override
    {
        probed.append(path);
        return files.value(path, Result::Absent);
    }

    QMap<QString, Result> files;
    QStringList probed;
};
