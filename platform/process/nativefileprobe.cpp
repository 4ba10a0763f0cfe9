#include "platform/process/nativefileprobe.h"

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <sys/stat.h>
#endif

FileProbe::Result NativeFileProbe::probe(const QString &path)
{
    // No file system takes a zero character; passed on, it would cut the
    // name short and find some other file.
    if (path.contains(QChar(0)))
        return Result::Rejected;

#ifdef Q_OS_WIN
    const DWORD attributes = GetFileAttributesW(reinterpret_cast<LPCWSTR>(path.utf16()));
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_ACCESS_DENIED:
            return Result::Absent;
        default:
            return Result::Rejected;
        }
    }
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DEVICE))
        return Result::Absent;
    return Result::PlainFile;
#else
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        switch (errno) {
        case ENAMETOOLONG:
        case ELOOP:
        case EINVAL:
        case EILSEQ:
            return Result::Rejected;
        default:
            return Result::Absent;
        }
    }
    if (!S_ISREG(info.st_mode) || QFileInfo(path).fileName().startsWith(QLatin1Char('.')))
        return Result::Absent;
    return Result::PlainFile;
#endif
}
