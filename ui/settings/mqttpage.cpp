#include "ui/settings/mqttpage.h"

#include "core/mqttsettings.h"
#include "platform/storage/settingsstore.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <optional>

namespace {

void showNote(QLabel *note, const std::optional<QString> &error)
{
    note->setText(error.value_or(QString()));
    note->setVisible(error.has_value());
    note->setStyleSheet(error ? QStringLiteral("color: #b00020;") : QString());
}

} // namespace

MqttPage::MqttPage(QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel(QStringLiteral(
        "Publishes this position's state to an MQTT broker, and keeps positions of one interlock group from "
        "keying their shared transmitter at the same time. A change connects anew when you press OK."));
    intro->setWordWrap(true);
    layout->addWidget(intro);

    m_form = new QFormLayout;
    m_broker = addRow(QStringLiteral("&Broker:"), QStringLiteral("mqttBroker"),
                      QStringLiteral("Off, HOST:PORT, or mqtts://HOST:PORT with the files of the TLS page."),
                      &m_brokerNote);
    m_broker->setPlaceholderText(QStringLiteral("Off"));
    m_position = addRow(QStringLiteral("P&osition:"), QStringLiteral("mqttPosition"),
                        QStringLiteral("This position's name in the topics and in \"Interlocked: ... is "
                                       "transmitting\"."),
                        &m_positionNote);
    m_position->setPlaceholderText(MqttSettings::defaultPosition());
    m_station = addRow(QStringLiteral("Statio&n:"), QStringLiteral("mqttStation"),
                       QStringLiteral("The station's name: topics begin zelvo-footswitch2/<station>/."),
                       &m_stationNote);
    m_station->setPlaceholderText(QStringLiteral("station"));
    m_group = addRow(QStringLiteral("&Interlock group:"), QStringLiteral("mqttInterlockGroup"),
                     QStringLiteral("Positions with the same group share one transmitter: only one of them keys at "
                                    "a time. Empty: no interlock."),
                     &m_groupNote);
    m_group->setPlaceholderText(QStringLiteral("None"));
    m_whenLost = new QComboBox;
    m_whenLost->setObjectName(QStringLiteral("mqttWhenBrokerLost"));
    m_whenLost->addItem(QStringLiteral("Refuse to key"), QStringLiteral("Refuse"));
    m_whenLost->addItem(QStringLiteral("Allow keying without the interlock"), QStringLiteral("Allow"));
    m_whenLost->setToolTip(QStringLiteral("What a press in an interlock group does while the broker cannot be "
                                          "reached. A transmission in progress always goes on to its release."));
    auto *whenLostLabel = new QLabel(QStringLiteral("&When the broker is lost:"));
    whenLostLabel->setBuddy(m_whenLost);
    m_form->addRow(whenLostLabel, m_whenLost);
    layout->addLayout(m_form);
    layout->addStretch();
    validate();
}

QLineEdit *MqttPage::addRow(const QString &label, const QString &name, const QString &toolTip, QLabel **note)
{
    auto *edit = new QLineEdit;
    edit->setObjectName(name);
    edit->setToolTip(toolTip);
    auto *caption = new QLabel(label);
    caption->setBuddy(edit);
    *note = new QLabel;
    (*note)->setObjectName(name + QStringLiteral("Note"));
    (*note)->setWordWrap(true);
    m_form->addRow(caption, edit);
    m_form->addRow(QString(), *note);
    connect(edit, &QLineEdit::textChanged, this, &MqttPage::validate);
    return edit;
}

void MqttPage::load(const SettingsStore &settings)
{
    const auto value = [&settings](const QString &key) {
        return settings.groupValue(MqttSettings::group, key).trimmed();
    };
    m_broker->setText(value(MqttSettings::brokerKey));
    m_position->setText(value(MqttSettings::positionKey));
    m_station->setText(value(MqttSettings::stationKey));
    m_group->setText(value(MqttSettings::interlockGroupKey));
    m_whenLost->setCurrentIndex(
        value(MqttSettings::whenBrokerLostKey).compare(QLatin1String("allow"), Qt::CaseInsensitive) == 0 ? 1 : 0);
    validate();
}

void MqttPage::save(SettingsStore &settings) const
{
    const QString broker = m_broker->text().trimmed();
    settings.saveGroupTogether(MqttSettings::group, {
        {MqttSettings::brokerKey, MqttSettings::broker(broker) ? broker : QStringLiteral("Off")},
        {MqttSettings::positionKey, m_position->text().trimmed()},
        {MqttSettings::stationKey, m_station->text().trimmed()},
        {MqttSettings::interlockGroupKey, m_group->text().trimmed()},
        {MqttSettings::whenBrokerLostKey, m_whenLost->currentData().toString()},
    });
}

void MqttPage::validate()
{
    QString brokerError;
    MqttSettings::broker(m_broker->text(), &brokerError);
    const std::optional<QString> brokerNote =
        brokerError.isEmpty() ? std::nullopt : std::optional<QString>(brokerError);
    const auto positionNote = MqttSettings::nameError(m_position->text(), true);
    const auto stationNote = MqttSettings::nameError(m_station->text(), false);
    const auto groupNote = MqttSettings::nameError(m_group->text(), false);
    showNote(m_brokerNote, brokerNote);
    showNote(m_positionNote, positionNote);
    showNote(m_stationNote, stationNote);
    showNote(m_groupNote, groupNote);
    const bool valid = !brokerNote && !positionNote && !stationNote && !groupNote;
    if (valid != m_valid) {
        m_valid = valid;
        emit validityChanged();
    }
}
