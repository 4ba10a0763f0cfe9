#pragma once

#include "platform/process/fileprobe.h"

// The file system's own answer: the file attributes on Windows, stat()
// elsewhere, where a name that starts with a dot is a hidden file.
class NativeFileProbe : public FileProbe
{
public:
    Result probe(const QString &path) override;
};
