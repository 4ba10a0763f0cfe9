#include "ui/settings/deviceitemdelegate.h"

void DeviceItemDelegate::initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    const QString details = index.data(DetailsRole).toString();
    if (!details.isEmpty())
        option->text += QStringLiteral("   \u2013 ") + details;
}
