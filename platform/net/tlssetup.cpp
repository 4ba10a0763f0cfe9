#include "platform/net/tlssetup.h"

#include "platform/storage/securefile.h"

#include <QSslCertificate>
#include <QSslError>
#include <QSslKey>
#include <QSslSocket>

namespace {
QString certificateNames(const QSslCertificate &certificate)
{
    QStringList names = certificate.subjectInfo(QSslCertificate::CommonName);
    const auto alternatives = certificate.subjectAlternativeNames();
    for (auto it = alternatives.cbegin(); it != alternatives.cend(); ++it) {
        if (!names.contains(it.value()))
            names.append(it.value());
    }
    return names.join(QLatin1String(", "));
}
}

TlsSetup::TlsSetup(const TlsFiles &files)
    : m_files(files)
{
}

bool TlsSetup::readTlsFile(const QString &path, const QString &what, QByteArray *contents, QString *reason)
{
    // One rule for every TLS file, the settings window's and the
    // connection's: a regular file of ours, never a device or a pipe.
    const bool key = what == QLatin1String("Key-File");
    auto read = ::readTlsFile(path, key ? TlsFileKind::PrivateKey : TlsFileKind::Certificates);
    if (const QString *refusal = std::get_if<QString>(&read)) {
        *reason = QStringLiteral("cannot use the %1 %2 (%3)").arg(what, path, *refusal);
        return false;
    }
    *contents = std::get<QByteArray>(std::move(read));
    return true;
}

std::optional<QSslConfiguration> TlsSetup::configuration(QString *reason) const
{
    if (!QSslSocket::supportsSsl()) {
        *reason = QStringLiteral("this system offers no TLS (no OpenSSL for Qt)");
        return std::nullopt;
    }
    if (m_files.certFile.isEmpty() != m_files.keyFile.isEmpty()) {
        *reason = QStringLiteral("Cert-File and Key-File in [Tls] go together: set both or neither");
        return std::nullopt;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);

    if (!m_files.caFile.isEmpty()) {
        QByteArray pem;
        if (!readTlsFile(m_files.caFile, QStringLiteral("Ca-File"), &pem, reason))
            return std::nullopt;
        const QList<QSslCertificate> authorities = QSslCertificate::fromData(pem, QSsl::Pem);
        if (authorities.isEmpty()) {
            *reason = QStringLiteral("the Ca-File %1 holds no PEM certificate").arg(m_files.caFile);
            return std::nullopt;
        }
        configuration.setCaCertificates(authorities);
    }

    if (!m_files.certFile.isEmpty()) {
        QByteArray certificatePem;
        QByteArray keyPem;
        if (!readTlsFile(m_files.certFile, QStringLiteral("Cert-File"), &certificatePem, reason)
            || !readTlsFile(m_files.keyFile, QStringLiteral("Key-File"), &keyPem, reason))
            return std::nullopt;
        const QList<QSslCertificate> chain = QSslCertificate::fromData(certificatePem, QSsl::Pem);
        if (chain.isEmpty()) {
            *reason = QStringLiteral("the Cert-File %1 holds no PEM certificate").arg(m_files.certFile);
            return std::nullopt;
        }
        QSslKey key;
        for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
            key = QSslKey(keyPem, algorithm, QSsl::Pem, QSsl::PrivateKey);
            if (!key.isNull())
                break;
        }
        if (key.isNull()) {
            *reason = QStringLiteral("the Key-File %1 holds no unencrypted RSA, EC or DSA private key in PEM")
                          .arg(m_files.keyFile);
            return std::nullopt;
        }
        configuration.setLocalCertificateChain(chain);
        configuration.setPrivateKey(key);
    }
    return configuration;
}

QString TlsSetup::certificateErrorsReason(const QList<QSslError> &errors, const QString &host) const
{
    QStringList reasons;
    for (const QSslError &error : errors) {
        QString reason;
        switch (error.error()) {
        case QSslError::CertificateExpired:
            reason = QStringLiteral("the server's certificate has expired (%1)")
                         .arg(error.certificate().expiryDate().toString(Qt::ISODate));
            break;
        case QSslError::CertificateNotYetValid:
            reason = QStringLiteral("the server's certificate is not valid yet (from %1)")
                         .arg(error.certificate().effectiveDate().toString(Qt::ISODate));
            break;
        case QSslError::HostNameMismatch:
            reason = QStringLiteral("the server's certificate is for %1, not for %2")
                         .arg(certificateNames(error.certificate()), host);
            break;
        case QSslError::UnableToGetLocalIssuerCertificate:
        case QSslError::UnableToGetIssuerCertificate:
        case QSslError::UnableToVerifyFirstCertificate:
        case QSslError::SelfSignedCertificate:
        case QSslError::SelfSignedCertificateInChain:
        case QSslError::CertificateUntrusted:
            reason = m_files.caFile.isEmpty()
                ? QStringLiteral("the server's certificate is not signed by a CA this system trusts")
                : QStringLiteral("the server's certificate is not signed by a CA of %1").arg(m_files.caFile);
            break;
        default:
            reason = QStringLiteral("the server's certificate is refused: %1").arg(error.errorString());
            break;
        }
        if (!reasons.contains(reason))
            reasons.append(reason);
    }
    return reasons.join(QLatin1String("; "));
}

QString TlsSetup::handshakeFailureReason(QAbstractSocket::SocketError error, const QString &errorText) const
{
    if (errorText.contains(QLatin1String("certificate required"), Qt::CaseInsensitive))
        return QStringLiteral("the server demands a client certificate (Cert-File and Key-File in [Tls])");
    if (errorText.contains(QLatin1String("unknown ca"), Qt::CaseInsensitive)
        || errorText.contains(QLatin1String("bad certificate"), Qt::CaseInsensitive)
        || errorText.contains(QLatin1String("certificate unknown"), Qt::CaseInsensitive))
        return QStringLiteral("the server refuses our client certificate (%1)").arg(errorText);
    if (error != QAbstractSocket::RemoteHostClosedError)
        return QStringLiteral("TLS failed (%1)").arg(errorText);
    // Some servers (ser2net) just close the connection on a client
    // certificate they do not like, or on none.
    if (m_files.certFile.isEmpty())
        return QStringLiteral("the server closed the TLS connection at once: it probably demands a client "
                              "certificate (Cert-File and Key-File in [Tls]) (%1)")
            .arg(errorText);
    return QStringLiteral("the server closed the TLS connection at once: it probably refuses our client "
                          "certificate %1 (%2)")
        .arg(m_files.certFile, errorText);
}

QString TlsSetup::certificateSummary(const QSslCertificate &certificate)
{
    return QStringLiteral("subject: %1; issuer: %2; SHA-256: %3")
        .arg(certificate.subjectDisplayName(), certificate.issuerDisplayName(),
             QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex(':').toUpper()));
}
