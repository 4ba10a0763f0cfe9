#include "ui/settings/settingswindow.h"

#include "ui/settings/footswitchbox.h"
#include "ui/settings/portspage.h"
#include "ui/settings/sequencepage.h"
#include "ui/settings/tlspage.h"
#include "ui/settings/transmitbox.h"
#include "ui/settings/wiringbox.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

SettingsWindow::SettingsWindow(SettingsStore &settings, SerialDeviceCatalog &devices, QWidget *parent)
    : QDialog(parent)
    , m_settings(settings)
{
    setWindowTitle(QStringLiteral("Settings"));
    // The main window's 8-point dialog font, so both look alike.
    QFont dialogFont = font();
    dialogFont.setPointSizeF(8);
    setFont(dialogFont);

    m_ports = new PortsPage(devices);
    m_ports->setObjectName(QStringLiteral("portsPage"));
    m_transmit = new TransmitBox;
    m_transmit->setObjectName(QStringLiteral("transmitBox"));
    m_footswitch = new FootswitchBox;
    m_footswitch->setObjectName(QStringLiteral("footswitchBox"));
    m_wiring = new WiringBox(*m_footswitch, m_settings);
    m_wiring->setObjectName(QStringLiteral("wiringBox"));
    m_sequence = new SequencePage;
    m_sequence->setObjectName(QStringLiteral("sequencePage"));
    m_tls = new TlsPage;
    m_tls->setObjectName(QStringLiteral("tlsPage"));

    auto *keying = new QWidget;
    auto *keyingLayout = new QVBoxLayout(keying);
    keyingLayout->addWidget(m_footswitch);
    keyingLayout->addWidget(m_wiring);
    keyingLayout->addWidget(m_transmit);
    keyingLayout->addStretch();

    m_tabs = new QTabWidget;
    m_tabs->setObjectName(QStringLiteral("settingsTabs"));
    m_tabs->addTab(m_ports, QStringLiteral("&Ports"));
    m_tabs->addTab(keying, QStringLiteral("&Keying"));
    m_tabs->addTab(m_sequence, QStringLiteral("&Sequence"));
    m_tabs->addTab(m_tls, QStringLiteral("&TLS"));

    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &SettingsWindow::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &SettingsWindow::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(m_buttons);

    m_ports->load(m_settings);
    m_transmit->load(m_settings);
    m_footswitch->load(m_settings);
    m_sequence->load(m_settings);
    m_tls->load(m_settings);

    connect(m_ports, &PortsPage::validityChanged, this, &SettingsWindow::updateOkButton);
    connect(m_sequence, &SequencePage::validityChanged, this, &SettingsWindow::updateOkButton);
    connect(m_tls, &TlsPage::validityChanged, this, &SettingsWindow::updateOkButton);
    updateOkButton();
}

void SettingsWindow::setTlsPeerSummary(const QString &summary)
{
    m_tls->setPeerSummary(summary);
}

void SettingsWindow::showFirstStart()
{
    m_tabs->setCurrentWidget(m_ports);
    m_ports->showGuidance(QStringLiteral(
        "No port is open yet: choose the devices of the footswitch's input port and the relay's "
        "output port below, then close this window to open them."));
}

void SettingsWindow::setWiring(KeyingEngine &engine, Messages &messages, const QString &inputPort,
                               const QString &outputPort)
{
    m_wiring->setEngine(engine, messages, inputPort, outputPort);
}

void SettingsWindow::accept()
{
    // The button is disabled while an entry is unusable, but Enter in an
    // entry reaches here too.
    if (!isValid())
        return;
    m_ports->save(m_settings);
    m_transmit->save(m_settings);
    m_footswitch->save(m_settings);
    m_sequence->save(m_settings);
    m_tls->save(m_settings);
    QDialog::accept();
}

bool SettingsWindow::isValid() const
{
    return m_ports->isValid() && m_sequence->isValid() && m_tls->isValid();
}

void SettingsWindow::updateOkButton()
{
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(isValid());
}
