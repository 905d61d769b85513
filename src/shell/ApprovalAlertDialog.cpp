#include "ApprovalAlertDialog.h"

#include <QMessageBox>

void ApprovalAlertDialog::show(const std::string &message,
                               const std::string &informativeText,
                               const std::string &button)
{
    if (m_box)
        m_box->close();
    auto *box = new QMessageBox;
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Information);
    box->setText(QString::fromStdString(message));
    box->setInformativeText(QString::fromStdString(informativeText));
    box->addButton(QString::fromStdString(button), QMessageBox::AcceptRole);
    m_box = box;
    box->open(); // modal to the application, without blocking the event loop
}
