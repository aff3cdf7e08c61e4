#include "Errors.h"

#include <QMessageBox>

#include <cerrno>

EVarnokError::EVarnokError(const QString& message)
    : std::runtime_error(message.toStdString())
{ }

EInOutError::EInOutError(int code)
    : EVarnokError(fileErrorText(code))
    , code_(code)
{ }

QString fileErrorText(int code)
{
    switch (code) {
    case ioerror::FileNotFound:
        return QStringLiteral("File not found");
    case ioerror::InvalidFileName:
        return QStringLiteral("Invalid filename");
    case ioerror::TooManyOpenFiles:
        return QStringLiteral("Too many open files");
    case ioerror::AccessDenied:
        return QStringLiteral("File access denied");
    case ioerror::ReadBeyondEnd:
        return QStringLiteral("Read beyond end of file");
    case ioerror::DiskFull:
        return QStringLiteral("Disk full");
    case ioerror::InvalidNumericInput:
        return QStringLiteral("Invalid numeric input");
    default:
        return QStringLiteral("I/O error %1").arg(code);
    }
}

int fileErrorCode(int errnoValue, Directory directory)
{
    switch (errnoValue) {
    case ENOENT:
        return directory == Directory::Missing ? ioerror::InvalidFileName : ioerror::FileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case EINVAL:
    case ELOOP:
        return ioerror::InvalidFileName;
    case EMFILE:
    case ENFILE:
        return ioerror::TooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case EBUSY:
    case ETXTBSY:
        return ioerror::AccessDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return ioerror::DiskFull;
    default:
        return errnoValue;
    }
}

void raiseFileError(int errnoValue, Directory directory)
{
    throw EInOutError(fileErrorCode(errnoValue, directory));
}

QString errorBoxText(const QString& text)
{
    if (!text.isEmpty() && text.back() > QLatin1Char('.'))
        return text + QLatin1Char('.');
    return text;
}

void TMessageBoxPresenter::showError(const QString& text)
{
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(ApplicationTitle), text,
        QMessageBox::Ok, parent_);
    // Names typed by the user are shown as typed, never read as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void TMessageBoxPresenter::showMessage(const QString& text)
{
    QMessageBox box(
        QMessageBox::NoIcon, QString::fromLatin1(ApplicationTitle), text, QMessageBox::Ok, parent_);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
