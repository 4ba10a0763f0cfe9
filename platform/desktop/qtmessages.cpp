#include "platform/desktop/qtmessages.h"

#include <QMessageBox>
#include <QPushButton>

void QtMessages::show(const QString &text)
{
    // Application modal, but not run in a nested event loop: whoever asked
    // has nothing left to do after its message, and a nested loop would let
    // an exit request return into the interrupted handler.
    auto *box = new QMessageBox(QMessageBox::NoIcon, m_caption, text, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->button(QMessageBox::Ok)->setIcon(QIcon()); // some styles decorate it: no icon at all

    box->setWindowModality(Qt::ApplicationModal);
    box->show();
}

void QtMessages::ask(const QString &question, std::function<void()> yes)
{
    // Opened as show() opens its box, for the same reason; the answer comes
    // back through the event loop.
    auto *box = new QMessageBox(QMessageBox::Question, m_caption, question, QMessageBox::Yes | QMessageBox::No);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setDefaultButton(QMessageBox::No);
    box->setWindowModality(Qt::ApplicationModal);
    QObject::connect(box, &QMessageBox::finished, box, [box, yes = std::move(yes)] {
        if (box->standardButton(box->clickedButton()) == QMessageBox::Yes)
            yes();
    });
    box->show();
}
