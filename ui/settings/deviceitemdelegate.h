#pragma once

#include <QStyledItemDelegate>

// Draws a device in a port's drop-down list as its path followed by what
// tells it apart (description, maker, serial number), while the item's own
// text, which choosing it puts in the entry, stays the bare path.
class DeviceItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    // The item data role that holds the details.
    static constexpr int DetailsRole = Qt::UserRole + 1;

    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;
};
