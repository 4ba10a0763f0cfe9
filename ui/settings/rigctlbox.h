#pragma once

#include <QGroupBox>

class QLabel;
class QLineEdit;

// Where the PTT server for digital-mode and logging programs listens:
// "Off", or an address such a program opens as "Hamlib NET rigctl". An
// address that others can reach is allowed, with a sentence that says what
// it means.
class RigctlBox : public QGroupBox
{
    Q_OBJECT

public:
    explicit RigctlBox(QWidget *parent = nullptr);

    // As stored: "Off" or HOST:PORT.
    QString value() const;
    void setValue(const QString &stored);
    bool isValid() const;

signals:
    void validityChanged();

private:
    void updateMessage();

    QLineEdit *m_address = nullptr;
    QLabel *m_message = nullptr;
    bool m_valid = true;
};
