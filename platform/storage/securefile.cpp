#include "platform/storage/securefile.h"

#include <QFile>

#include <cerrno>
#include <optional>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemReason(int error)
{
    if (error == ENOENT)
        return QStringLiteral("File not found.");
    if (error == ELOOP)
        return QStringLiteral("Is a symbolic link; give the file it points to.");
    return QStringLiteral("Cannot be read: %1.").arg(QString::fromLocal8Bit(std::strerror(error)));
}

// Why a file of this type and mode is refused; nothing for an acceptable one.
std::optional<QString> statusError(const struct stat &status, TlsFileKind kind)
{
    if (S_ISLNK(status.st_mode))
        return QStringLiteral("Is a symbolic link; give the file it points to.");
    if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode))
        return QStringLiteral("Is a device, not a file.");
    if (S_ISFIFO(status.st_mode))
        return QStringLiteral("Is a named pipe, not a file.");
    if (S_ISSOCK(status.st_mode))
        return QStringLiteral("Is a socket, not a file.");
    if (S_ISDIR(status.st_mode))
        return QStringLiteral("Is a folder, not a file.");
    if (!S_ISREG(status.st_mode))
        return QStringLiteral("Not a file.");
    if (status.st_size > maxTlsFileBytes)
        return QStringLiteral("Too large for a PEM file (more than %1 bytes).").arg(maxTlsFileBytes);
    if (kind == TlsFileKind::PrivateKey) {
        // As ssh does: a key that someone else owns or may read is no secret.
        if (status.st_uid != ::geteuid())
            return QStringLiteral("This key belongs to another user; it must be yours alone (chown, chmod 600).");
        if ((status.st_mode & 077) != 0)
            return QStringLiteral("Other users can read this key; make it private (chmod 600).");
    }
    return std::nullopt;
}

} // namespace

std::variant<QByteArray, QString> readTlsFile(const QString &path, TlsFileKind kind)
{
    if (path.isEmpty())
        return QStringLiteral("No file given.");
    const QByteArray name = QFile::encodeName(path);

    // Judged before opening: the open itself is what must not happen to a
    // device or a pipe.
    struct stat before{};
    if (::lstat(name.constData(), &before) != 0)
        return systemReason(errno);
    if (const auto error = statusError(before, kind))
        return *error;

    const int descriptor = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return systemReason(errno);
    // The path may have been swapped between the look and the open: what
    // counts is what was opened.
    struct stat opened{};
    std::optional<QString> error;
    if (::fstat(descriptor, &opened) != 0)
        error = systemReason(errno);
    else
        error = statusError(opened, kind);

    QByteArray contents;
    if (!error) {
        // One byte more than allowed tells a file that grew since.
        contents.resize(maxTlsFileBytes + 1);
        qsizetype filled = 0;
        while (filled < contents.size()) {
            const ssize_t got = ::read(descriptor, contents.data() + filled, size_t(contents.size() - filled));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                error = systemReason(errno);
                break;
            }
            if (got == 0)
                break;
            filled += got;
        }
        if (!error && filled > maxTlsFileBytes)
            error = QStringLiteral("Too large for a PEM file (more than %1 bytes).").arg(maxTlsFileBytes);
        contents.truncate(filled);
    }
    ::close(descriptor);
    if (error)
        return *error;
    return contents;
}
