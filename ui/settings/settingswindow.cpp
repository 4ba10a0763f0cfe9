#include "ui/settings/settingswindow.h"

#include "ui/settings/footswitchbox.h"
#include "ui/settings/mqttpage.h"
#include "ui/settings/portspage.h"
#include "ui/settings/sequencepage.h"
#include "ui/settings/stationpage.h"
#include "core/storedportmappings.h"
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
    m_station = new StationPage(*m_ports, devices);
    m_station->setObjectName(QStringLiteral("stationPage"));
    m_sequence = new SequencePage;
    m_sequence->setObjectName(QStringLiteral("sequencePage"));
    m_tls = new TlsPage;
    m_tls->setObjectName(QStringLiteral("tlsPage"));
    m_mqtt = new MqttPage;
    m_mqtt->setObjectName(QStringLiteral("mqttPage"));

    auto *keying = new QWidget;
    m_keyingLayout = new QVBoxLayout(keying);
    m_keyingLayout->addWidget(m_footswitch);
    m_keyingLayout->addWidget(m_wiring);
    m_keyingLayout->addWidget(m_transmit);
    m_keyingLayout->addStretch();

    m_tabs = new QTabWidget;
    m_tabs->setObjectName(QStringLiteral("settingsTabs"));
    m_tabs->addTab(m_station, QStringLiteral("St&ation"));
    m_tabs->addTab(m_ports, QStringLiteral("&Ports"));
    m_tabs->addTab(keying, QStringLiteral("&Keying"));
    m_tabs->addTab(m_sequence, QStringLiteral("&Sequence"));
    m_tabs->addTab(m_tls, QStringLiteral("&TLS"));
    m_tabs->addTab(m_mqtt, QStringLiteral("&MQTT"));

    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &SettingsWindow::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &SettingsWindow::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(m_buttons);

    m_ports->load(m_settings);
    m_station->load(m_settings);
    m_transmit->load(m_settings);
    m_footswitch->load(m_settings);
    m_sequence->load(m_settings);
    m_tls->load(m_settings);
    m_mqtt->load(m_settings);

    connect(m_ports, &PortsPage::validityChanged, this, &SettingsWindow::updateOkButton);
    connect(m_station, &StationPage::validityChanged, this, &SettingsWindow::updateOkButton);
    connect(m_station, &StationPage::portsChanged, this, &SettingsWindow::updateWiringPorts);
    // Whichever assistant opens the ports, it opens them as the pages say.
    connect(m_wiring, &WiringBox::aboutToOpen, this, [this] {
        if (m_mappings)
            m_mappings->setUnsaved(m_ports->unsavedMappings());
    });
    connect(m_tabs, &QTabWidget::currentChanged, this, &SettingsWindow::placeWiring);
    placeWiring();
    connect(m_sequence, &SequencePage::validityChanged, this, &SettingsWindow::updateOkButton);
    connect(m_tls, &TlsPage::validityChanged, this, &SettingsWindow::updateOkButton);
    connect(m_mqtt, &MqttPage::validityChanged, this, &SettingsWindow::updateOkButton);
    updateOkButton();
}

void SettingsWindow::setTlsPeerSummary(const QString &summary)
{
    m_tls->setPeerSummary(summary);
}

void SettingsWindow::showFirstStart()
{
    m_tabs->setCurrentWidget(m_station);
    m_station->showGuidance(QStringLiteral(
        "No port is open yet: choose the footswitch's and the relay's devices below. Detect and "
        "Test relay then check the wiring, and OK opens the station, ready to key."));
}

void SettingsWindow::setWiring(KeyingEngine &engine, Messages &messages, const QString &inputPort,
                               const QString &outputPort, StoredPortMappings *mappings)
{
    m_mappings = mappings;
    m_inputPort = inputPort;
    m_outputPort = outputPort;
    m_wiring->setEngine(engine, messages, QString(), QString());
    updateWiringPorts();
}

void SettingsWindow::placeWiring()
{
    QWidget *page = m_tabs->currentWidget();
    QWidget *keying = m_keyingLayout->parentWidget();
    if ((page != m_station && page != keying) || m_wiring->parentWidget() == page)
        return;
    m_keyingLayout->removeWidget(m_wiring);
    m_station->layout()->removeWidget(m_wiring);
    if (page == m_station)
        m_station->addWiring(m_wiring);
    else
        m_keyingLayout->insertWidget(1, m_wiring);
    // A widget that changes parents is hidden: shown again if it has ports.
    updateWiringPorts();
}

void SettingsWindow::updateWiringPorts()
{
    // Once a choice on the station page is made, the assistant opens what
    // it says, or nothing while it is half-typed. Until then the station
    // page asks first and shows no assistant: opening the window opens no
    // port by itself.
    const bool chosen = m_station->isEdited();
    const bool onStation = m_wiring->parentWidget() == m_station;
    const QString input = chosen ? m_station->inputPort() : onStation ? QString() : m_inputPort;
    const QString output = chosen ? m_station->outputPort() : onStation ? QString() : m_outputPort;
    m_wiring->setPorts(input, output);
}

void SettingsWindow::accept()
{
    // The button is disabled while an entry is unusable, but Enter in an
    // entry reaches here too.
    if (!isValid())
        return;
    m_ports->save(m_settings);
    m_station->save(m_settings);
    m_transmit->save(m_settings);
    m_footswitch->save(m_settings);
    m_sequence->save(m_settings);
    m_tls->save(m_settings);
    m_mqtt->save(m_settings);
    QDialog::accept();
}

void SettingsWindow::done(int result)
{
    // Saved or not, the file says again what the numbers mean.
    if (m_mappings)
        m_mappings->setUnsaved({});
    QDialog::done(result);
}

bool SettingsWindow::isValid() const
{
    return m_ports->isValid() && m_station->isValid() && m_sequence->isValid() && m_tls->isValid()
        && m_mqtt->isValid();
}

void SettingsWindow::updateOkButton()
{
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(isValid());
}
