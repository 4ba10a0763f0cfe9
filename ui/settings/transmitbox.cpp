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

    auto *hint = new QLabel(help);
    hint->setWordWrap(true);

    auto *layout = new QFormLayout(this);
    layout->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    layout->addRow(QStringLiteral("&Time-out:"), m_timeout);
    layout->addRow(hint);
}

void TransmitBox::load(const SettingsStore &settings)
{
    m_timeout->setValue(StationSettings::txTimeoutSeconds(settings.get(StationSettings::txTimeoutKey)));
}

void TransmitBox::save(SettingsStore &settings) const
{
    settings.save(StationSettings::txTimeoutKey, QString::number(m_timeout->value()));
}
