#pragma once

#include <QByteArray>
#include <QString>

#include <variant>

// The files of a TLS connection (Ca-File, Cert-File, Key-File), read so that
// a mistyped path can do no harm: only a regular file is opened, never a
// device (opening a serial device raises its RTS and DTR, which may key a
// transmitter), a named pipe (which would never answer) or a socket, and
// never through a symbolic link.
enum class TlsFileKind { Certificates, PrivateKey };

// PEM files are small; anything larger is not one of ours.
inline constexpr qint64 maxTlsFileBytes = 1024 * 1024;

// The file's bytes, or why it is refused in words for the user (without the
// path: the caller names it as the user knows it). A private key must also
// belong to this user and be closed to everyone else, as ssh demands.
std::variant<QByteArray, QString> readTlsFile(const QString &path, TlsFileKind kind);
