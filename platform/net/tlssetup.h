#pragma once

#include <QAbstractSocket>
#include <QList>
#include <QSslConfiguration>
#include <QString>

#include <optional>

class QSslCertificate;
class QSslError;

// The files of the settings group "Tls", shared by every TLS port.
struct TlsFiles
{
    QString caFile;   // CAs that may sign the server's certificate; empty: the system's
    QString certFile; // client certificate, PEM; with keyFile or not at all
    QString keyFile;  // its unencrypted private key, PEM, readable by its owner only
};

// What a TLS port makes of its files: the configuration of its socket, and
// the words for whatever goes wrong with the certificates on either side.
// TLS 1.2 or later, the server's certificate always verified.
class TlsSetup
{
public:
    explicit TlsSetup(const TlsFiles &files);

    // The configuration for a connection, or nothing with *reason saying
    // which file is missing, unreadable or not what it should be.
    std::optional<QSslConfiguration> configuration(QString *reason) const;

    // Why the server's certificate is refused, for the errors of one
    // handshake with `host`.
    QString certificateErrorsReason(const QList<QSslError> &errors, const QString &host) const;
    // Why a TLS connection failed during or just after its handshake, from
    // the socket's error; after TLS 1.3's handshake the server's verdict on
    // our certificate comes as the first read.
    QString handshakeFailureReason(QAbstractSocket::SocketError error, const QString &errorText) const;

    // Subject, issuer and SHA-256 fingerprint, for the user to check by eye.
    static QString certificateSummary(const QSslCertificate &certificate);

private:
    // Every TLS file is read here and nowhere else.
    static bool readTlsFile(const QString &path, const QString &what, QByteArray *contents, QString *reason);

    TlsFiles m_files;
};
