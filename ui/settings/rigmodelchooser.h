#pragma once

#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QWidget>

class QComboBox;
class QLineEdit;

// Hamlib's rig models, shared by the choosers of every CAT output on a page.
// Read from Hamlib the first time a chooser needs it, so that a station
// without a radio on CAT never calls into Hamlib from here. Reading it walks
// Hamlib's built-in backends (a few ms the first time, no I/O).
class RigModelList : public QStandardItemModel
{
public:
    static constexpr int ModelRole = Qt::UserRole + 1;

    explicit RigModelList(QObject *parent = nullptr);

    // Reads the list once; later calls do nothing.
    void load();
    // The row of a model; a number this Hamlib does not know (a file from a
    // newer one) gets a row of its own, so that it is kept, not replaced.
    int rowOf(int model);

private:
    bool m_loaded = false;
};

// A rig model, picked from Hamlib's list: a search field narrows the list to
// the models whose maker, name and number hold every word typed.
class RigModelChooser : public QWidget
{
    Q_OBJECT

public:
    // `name` prefixes the object names of its fields.
    RigModelChooser(RigModelList &models, const QString &name, QWidget *parent = nullptr);

    int rigModel() const { return m_model; }
    void setRigModel(int model);

signals:
    void rigModelChanged(int model);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void search(const QString &text);
    void choose(int index);
    void showCurrent();
    void attachList();

    RigModelList &m_models;
    QSortFilterProxyModel m_filter;
    QLineEdit *m_search = nullptr;
    QComboBox *m_combo = nullptr;
    int m_model = 0;
};
