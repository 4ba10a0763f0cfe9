#include "ui/settings/rigmodelchooser.h"

#include "platform/cat/hamlibrig.h"
#include "platform/cat/rigaddress.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSignalBlocker>

RigModelList::RigModelList(QObject *parent)
    : QStandardItemModel(parent)
{
}

void RigModelList::load()
{
    if (m_loaded)
        return;
    m_loaded = true;
    for (const RigModel &rig : CatRig::models()) {
        auto *item = new QStandardItem(QStringLiteral("%1 %2 (%3)").arg(rig.manufacturer, rig.name).arg(rig.model));
        item->setData(rig.model, ModelRole);
        appendRow(item);
    }
}

int RigModelList::rowOf(int model)
{
    load();
    const QModelIndexList found = match(index(0, 0), ModelRole, model, 1, Qt::MatchExactly);
    if (!found.isEmpty())
        return found.first().row();
    auto *item = new QStandardItem(QStringLiteral("Model %1 (not in this Hamlib's list)").arg(model));
    item->setData(model, ModelRole);
    appendRow(item);
    return rowCount() - 1;
}

RigModelChooser::RigModelChooser(RigModelList &models, const QString &name, QWidget *parent)
    : QWidget(parent)
    , m_models(models)
    , m_model(RigAddress{}.model)
{
    m_search = new QLineEdit;
    m_search->setObjectName(name + QStringLiteral("Search"));
    m_search->setPlaceholderText(QStringLiteral("Search: maker, name or number"));
    m_search->setClearButtonEnabled(true);
    m_search->setToolTip(QStringLiteral("Shows only the models whose maker, name and number hold every word typed."));

    m_combo = new QComboBox;
    m_combo->setObjectName(name + QStringLiteral("Model"));
    m_combo->setPlaceholderText(QStringLiteral("No model matches the search"));
    m_combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_combo->setMinimumContentsLength(30);
    m_combo->setToolTip(QStringLiteral("The radio's model in Hamlib's list; Hamlib NET rigctl (2) for a rigctld."));

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_search, 1);
    layout->addWidget(m_combo, 2);

    m_filter.setFilterCaseSensitivity(Qt::CaseInsensitive);
    connect(m_search, &QLineEdit::textChanged, this, &RigModelChooser::search);
    // Only the user's choice changes the model: the combo box moves its
    // current item by itself as the search hides and shows rows.
    connect(m_combo, &QComboBox::activated, this, &RigModelChooser::choose);
}

void RigModelChooser::setRigModel(int model)
{
    m_model = model;
    showCurrent();
}

void RigModelChooser::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    showCurrent();
}

void RigModelChooser::search(const QString &text)
{
    attachList();
    // Every word, in any order: "yaesu 991" finds the FT-991.
    QString pattern;
    for (const QString &word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        pattern += QStringLiteral("(?=.*%1)").arg(QRegularExpression::escape(word));
    {
        const QSignalBlocker blocker(m_combo);
        m_filter.setFilterRegularExpression(
            QRegularExpression(pattern, QRegularExpression::CaseInsensitiveOption));
    }
    // The search picks its first match when it hides the model chosen.
    const QModelIndex current = m_filter.mapFromSource(m_models.index(m_models.rowOf(m_model), 0));
    if (!current.isValid() && m_filter.rowCount() > 0) {
        m_model = m_filter.index(0, 0).data(RigModelList::ModelRole).toInt();
        emit rigModelChanged(m_model);
    }
    showCurrent();
}

void RigModelChooser::choose(int index)
{
    if (index < 0)
        return;
    const int model = m_filter.index(index, 0).data(RigModelList::ModelRole).toInt();
    if (model == m_model)
        return;
    m_model = model;
    emit rigModelChanged(m_model);
}

void RigModelChooser::showCurrent()
{
    attachList();
    const int row = m_models.rowOf(m_model);
    const QSignalBlocker blocker(m_combo);
    m_combo->setCurrentIndex(m_filter.mapFromSource(m_models.index(row, 0)).row());
}

void RigModelChooser::attachList()
{
    // Read when the first chooser is shown or given a model, and complete
    // from then on: nothing is added later but a model Hamlib does not know.
    if (m_filter.sourceModel() == &m_models)
        return;
    m_models.load();
    const QSignalBlocker blocker(m_combo);
    m_filter.setSourceModel(&m_models);
    m_combo->setModel(&m_filter);
}
