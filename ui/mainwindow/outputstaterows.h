#pragma once

#include <QWidget>

#include <vector>

class KeyingEngine;
class QLabel;

// One compact row per output of the chain, under the main window's form: a
// lamp, the output's name ("1 Com2", "3 CAT 127.0.0.1:4532") and its state in
// the state line's words. The lamp is the footswitch lamp's: green while the
// output is keyed, red while it is released and ready; grey while it cannot
// key (closed, connecting, not available, lost). A row too narrow for its
// text cuts it with an ellipsis; the tooltip has it whole.
class OutputStateRows : public QWidget
{
    Q_OBJECT

public:
    static constexpr int RowHeight = 18;

    explicit OutputStateRows(QWidget *parent = nullptr);

    // Shows the chain as the engine holds it now, one row per output: the
    // chain is rebuilt when the engine is configured. Output 1 while closed
    // is named by `firstPortChosen`, the port the next activation opens.
    void showChain(const KeyingEngine &engine, const QString &firstPortChosen);
    int rowCount() const { return int(m_rows.size()); }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    struct Row
    {
        QLabel *lamp = nullptr;
        QLabel *name = nullptr;
        QLabel *state = nullptr;
        QString nameText;
        QString stateText;
    };

    void layoutRows();

    std::vector<Row> m_rows;
};
