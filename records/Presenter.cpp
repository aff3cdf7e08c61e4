#include "Presenter.h"

#include "BtrCall.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace records {

Presenter::~Presenter() = default;

void Presenter::error(QWidget* parent, const QString& text)
{
    QMessageBox box(
        QMessageBox::Critical, QString::fromLatin1(RecordsTitle), text, QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("errorBox"));
    box.exec();
}

bool Presenter::confirm(QWidget* parent, const QString& question)
{
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(RecordsTitle), question,
        QMessageBox::Yes | QMessageBox::No, parent);
    box.setObjectName(QStringLiteral("confirmBox"));
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> Presenter::ownerName(QWidget* parent, const QString& file)
{
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("ownerDialog"));
    dialog.setWindowTitle(QString::fromLatin1(RecordsTitle));
    auto* layout = new QVBoxLayout(&dialog);
    auto* label = new QLabel(
        QStringLiteral("The records of %1 are encrypted under an owner name. Owner name:")
            .arg(file),
        &dialog);
    label->setWordWrap(true);
    auto* edit = new QLineEdit(&dialog);
    edit->setObjectName(QStringLiteral("ownerEdit"));
    edit->setMaxLength(btr::OwnerNameSize - 1);
    edit->setEchoMode(QLineEdit::Password);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(label);
    layout->addWidget(edit);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted || edit->text().isEmpty())
        return std::nullopt;
    return edit->text();
}

void Presenter::report(QWidget* parent, const QString& title, const QString& text)
{
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("reportDialog"));
    dialog.setWindowTitle(QStringLiteral("%1 - %2").arg(title, QString::fromLatin1(RecordsTitle)));
    auto* layout = new QVBoxLayout(&dialog);
    auto* view = new QPlainTextEdit(text, &dialog);
    view->setObjectName(QStringLiteral("reportText"));
    view->setReadOnly(true);
    view->setMinimumSize(560, 300);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(view);
    layout->addWidget(buttons);
    dialog.exec();
}

} // namespace records
