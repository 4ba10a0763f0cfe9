#pragma once

#include "platform/storage/settingsstore.h"

#include <QWidget>

class QGridLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;

// The files of encrypted network ports (rfc2217+tls://): whom to trust, and
// the certificate this station shows if the server asks for one. Also shows
// what the server presented at the last successful connection.
class TlsPage : public QWidget
{
    Q_OBJECT

public:
    explicit TlsPage(QWidget *parent = nullptr);

    void load(const SettingsStore &settings);
    void save(SettingsStore &settings) const;
    bool isValid() const;

    // Subject, issuer and fingerprint of the server's certificate; empty
    // before any connection.
    void setPeerSummary(const QString &summary);

signals:
    void validityChanged();

private:
    struct FileEntry
    {
        QLineEdit *edit = nullptr;
        QLabel *note = nullptr;
        // The value as last loaded or typed: a list read from the file is
        // refused as one until the entry is changed.
        StoredText stored;
    };

    FileEntry addFileRow(const QString &label, const QString &name, const QString &toolTip, int row,
                         QGridLayout *grid);
    void browse(QLineEdit *edit, const QString &title);
    void validate();

    FileEntry m_ca;
    FileEntry m_cert;
    FileEntry m_key;
    QPlainTextEdit *m_peer = nullptr;
    bool m_valid = true;
};
