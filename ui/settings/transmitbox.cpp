#include "ui/settings/transmitbox.h"

#include "core/stationsettings.h"
#include "platform/storage/settingsstore.h"

#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>

TransmitBox::TransmitBox(QWidget *parent)
    : QGroupBox(QStringLiteral("Transmit"), parent)
{
    m_timeout = new QSpinBox;
    m_timeout->setObjectName(QStringLiteral("txTimeout"));
    // 0 is shown and typed as "Off", the value that the file stores as "0".
    m_timeout->setRange(0, StationSettings::maxTxTimeoutSeconds);
    m_timeout->setSpecialValueText(QStringLiteral("Off"));
    m_timeout->setSuffix(QStringLiteral(" s"));
    m_timeout->setAccelerated(true);
    const QString help = QStringLiteral(
        "Releases the transmitter when it has been keyed this long without a break, "
        "in case the footswitch sticks or something rests on it. "
        "Off, or 1 to %1 seconds; %2 s suits most stations.")
        .arg(StationSettings::maxTxTimeoutSeconds)
        .arg(StationSettings::suggestedTxTimeoutSeconds);
    m_timeout->setToolTip(help);

    m_warning = new QSpinBox;
    m_warning->setObjectName(QStringLiteral("txTimeoutWarning"));
    m_warning->setRange(0, StationSettings::maxTxTimeoutSeconds);
    m_warning->setSpecialValueText(QStringLiteral("Off"));
    m_warning->setSuffix(QStringLiteral(" s before"));
    m_warning->setToolTip(QStringLiteral(
        "Sounds the desktop's warning every 2 s from this long before the time-out until it comes or "
        "you let go, and another sound when it releases. Off: silent."));

    auto *hint = new QLabel(help);
    hint->setWordWrap(true);

    auto *layout = new QFormLayout(this);
    layout->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    layout->addRow(QStringLiteral("&Time-out:"), m_timeout);
    layout->addRow(QStringLiteral("&Warning:"), m_warning);
    layout->addRow(hint);
}

void TransmitBox::load(const SettingsStore &settings)
{
    m_timeout->setValue(StationSettings::txTimeoutSeconds(settings.get(StationSettings::txTimeoutKey)));
    m_warning->setValue(
        StationSettings::txTimeoutWarningSeconds(settings.get(StationSettings::txTimeoutWarningKey)));
}

void TransmitBox::save(SettingsStore &settings) const
{
    settings.save(StationSettings::txTimeoutKey, QString::number(m_timeout->value()));
    settings.save(StationSettings::txTimeoutWarningKey, QString::number(m_warning->value()));
}
