#include "ui/settings/tlspage.h"

#include "core/stationsettings.h"
#include "platform/storage/securefile.h"
#include "platform/storage/settingsstore.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <optional>
#include <variant>

namespace {

// The same rules as the connection's: the path as a stored value, then the
// file through the one reader of TLS files, then what a PEM file must hold.
std::optional<QString> fileError(const StoredText &value, TlsFileKind kind)
{
    if (const auto error = StationSettings::tlsPathError(value))
        return error;
    const auto read = readTlsFile(value.text.trimmed(), kind);
    if (const QString *refusal = std::get_if<QString>(&read))
        return *refusal;
    const QByteArray &content = std::get<QByteArray>(read);
    if (kind == TlsFileKind::Certificates) {
        if (!content.contains("-----BEGIN CERTIFICATE-----"))
            return QStringLiteral("Holds no PEM certificate (-----BEGIN CERTIFICATE-----).");
        return std::nullopt;
    }
    if (content.contains("ENCRYPTED"))
        return QStringLiteral("The key is protected by a passphrase; an unencrypted key is needed.");
    if (!content.contains("PRIVATE KEY-----"))
        return QStringLiteral("Holds no PEM private key.");
    return std::nullopt;
}

void showNote(QLabel *note, const std::optional<QString> &error)
{
    note->setText(error.value_or(QString()));
    note->setStyleSheet(error ? QStringLiteral("color: #b00020;") : QString());
}

} // namespace

TlsPage::TlsPage(QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel(QStringLiteral(
        "For network ports written as rfc2217+tls://HOST:PORT. All files are PEM. "
        "The client certificate and its key are needed only where the server asks for them."));
    intro->setWordWrap(true);
    layout->addWidget(intro);

    auto *grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    m_ca = addFileRow(QStringLiteral("&CA certificates:"), QStringLiteral("caFile"),
                      QStringLiteral("The certificates of the authorities that signed the server's certificate. "
                                     "Empty: the system's trusted authorities."),
                      0, grid);
    m_ca.edit->setPlaceholderText(QStringLiteral("The system's trusted authorities"));
    m_cert = addFileRow(QStringLiteral("Client c&ertificate:"), QStringLiteral("certFile"),
                        QStringLiteral("This station's certificate, for a server that checks its clients."), 2, grid);
    m_key = addFileRow(QStringLiteral("Client &key:"), QStringLiteral("keyFile"),
                       QStringLiteral("The unencrypted private key of the client certificate, readable only by you."),
                       4, grid);
    layout->addLayout(grid);

    auto *peerBox = new QGroupBox(QStringLiteral("Server certificate at the last connection"));
    auto *peerLayout = new QVBoxLayout(peerBox);
    m_peer = new QPlainTextEdit;
    m_peer->setObjectName(QStringLiteral("tlsPeerSummary"));
    m_peer->setReadOnly(true);
    m_peer->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // Subject, issuer and fingerprint: a few lines, not a page.
    m_peer->setMaximumHeight(m_peer->fontMetrics().lineSpacing() * 6);
    peerLayout->addWidget(m_peer);
    layout->addWidget(peerBox);
    layout->addStretch();
    setPeerSummary(QString());
}

TlsPage::FileEntry TlsPage::addFileRow(const QString &label, const QString &name, const QString &toolTip, int row,
                                       QGridLayout *grid)
{
    FileEntry entry;
    auto *caption = new QLabel(label);
    entry.edit = new QLineEdit;
    entry.edit->setObjectName(name);
    entry.edit->setToolTip(toolTip);
    entry.edit->setClearButtonEnabled(true);
    caption->setBuddy(entry.edit);
    auto *browseButton = new QPushButton(QStringLiteral("Browse..."));
    browseButton->setObjectName(name + QStringLiteral("Browse"));
    entry.note = new QLabel;
    entry.note->setObjectName(name + QStringLiteral("Note"));
    entry.note->setWordWrap(true);

    grid->addWidget(caption, row, 0);
    grid->addWidget(entry.edit, row, 1);
    grid->addWidget(browseButton, row, 2);
    grid->addWidget(entry.note, row + 1, 1, 1, 2);

    QLineEdit *edit = entry.edit;
    const QString title = QString(label).remove(QLatin1Char('&')).chopped(1);
    connect(browseButton, &QPushButton::clicked, this, [this, edit, title] { browse(edit, title); });
    connect(entry.edit, &QLineEdit::textChanged, this, &TlsPage::validate);
    return entry;
}

void TlsPage::browse(QLineEdit *edit, const QString &title)
{
    const QString start = edit->text().trimmed().isEmpty() ? QDir::homePath() : QFileInfo(edit->text().trimmed()).path();
    // Opened, not run: a static getOpenFileName() would spin an event loop
    // of its own beneath this page, and a program asked to end meanwhile
    // would have to return into it.
    auto *dialog =
        new QFileDialog(this, title, start, QStringLiteral("PEM files (*.pem *.crt *.cer *.key);;All files (*)"));
    dialog->setObjectName(QStringLiteral("tlsFileDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    connect(dialog, &QFileDialog::fileSelected, edit, &QLineEdit::setText);
    dialog->open();
}

void TlsPage::load(const SettingsStore &settings)
{
    const auto loadEntry = [&settings](FileEntry &entry, const QString &key) {
        entry.stored = settings.storedGroupValue(StationSettings::tlsGroup, key);
        entry.stored.text = entry.stored.text.trimmed();
        entry.edit->setText(entry.stored.text);
    };
    loadEntry(m_ca, StationSettings::caFileKey);
    loadEntry(m_cert, StationSettings::certFileKey);
    loadEntry(m_key, StationSettings::keyFileKey);
    validate();
}

void TlsPage::save(SettingsStore &settings) const
{
    settings.saveGroupValue(StationSettings::tlsGroup, StationSettings::caFileKey, m_ca.edit->text().trimmed());
    settings.saveGroupValue(StationSettings::tlsGroup, StationSettings::certFileKey, m_cert.edit->text().trimmed());
    settings.saveGroupValue(StationSettings::tlsGroup, StationSettings::keyFileKey, m_key.edit->text().trimmed());
}

bool TlsPage::isValid() const
{
    return m_valid;
}

void TlsPage::setPeerSummary(const QString &summary)
{
    m_peer->setPlainText(summary.isEmpty() ? QStringLiteral("No connection yet.") : summary);
}

void TlsPage::validate()
{
    // What was loaded stays as stored (a list is still a list) until edited.
    const auto entered = [](FileEntry &entry) {
        const QString text = entry.edit->text().trimmed();
        if (text != entry.stored.text)
            entry.stored = StoredText{text};
        return entry.stored;
    };
    const StoredText ca = entered(m_ca);
    const StoredText cert = entered(m_cert);
    const StoredText key = entered(m_key);
    const auto given = [](const StoredText &value) { return value.wasList || !value.text.isEmpty(); };

    std::optional<QString> caError;
    if (given(ca))
        caError = fileError(ca, TlsFileKind::Certificates);

    std::optional<QString> certError;
    std::optional<QString> keyError;
    if (given(cert))
        certError = fileError(cert, TlsFileKind::Certificates);
    else if (given(key))
        certError = QStringLiteral("A key needs its certificate.");
    if (given(key))
        keyError = fileError(key, TlsFileKind::PrivateKey);
    else if (given(cert))
        keyError = QStringLiteral("A client certificate needs its key.");

    showNote(m_ca.note, caError);
    showNote(m_cert.note, certError);
    showNote(m_key.note, keyError);

    const bool valid = !caError && !certError && !keyError;
    if (valid != m_valid) {
        m_valid = valid;
        emit validityChanged();
    }
}
