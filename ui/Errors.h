// The two kinds of failure a window command raises, and the one place that shows them.
//
// Record-manager failures are status codes and never raised. A text that is not a number and a
// failing file-system call are raised as exceptions inside the window's unit; every handler runs
// through a guard (TVarnok::guard) that catches them where Qt calls the handler and hands the
// text to the message presenter.
#pragma once

#include <QString>

#include <stdexcept>

class QWidget;

// The title of the application: window caption and the caption of every message box.
inline constexpr const char* ApplicationTitle = "Varnok";

// Base of the errors a command may raise; message() is the text the user sees.
class EVarnokError : public std::runtime_error
{
public:
    explicit EVarnokError(const QString& message);
    QString message() const { return QString::fromUtf8(what()); }
};

// A text that does not convert to a number ("'%s' is not a valid integer value").
class EConvertError : public EVarnokError
{
public:
    using EVarnokError::EVarnokError;
};

// A failing file-system call, with the I/O error code that selects its text.
class EInOutError : public EVarnokError
{
public:
    explicit EInOutError(int code);
    int errorCode() const { return code_; }

private:
    int code_;
};

// I/O error codes of the file-system errors.
namespace ioerror {
constexpr int FileNotFound = 2;
constexpr int InvalidFileName = 3;
constexpr int TooManyOpenFiles = 4;
constexpr int AccessDenied = 5;
constexpr int ReadBeyondEnd = 100;
constexpr int DiskFull = 101;
constexpr int InvalidNumericInput = 106;
} // namespace ioerror

// The text shown for an I/O error code ("File not found", ..., "I/O error 32").
QString fileErrorText(int code);
// Whether the directory a failed call's name leads into exists. The system answers "no such
// file" alike for a missing file and for a missing directory on the way to it; the two have
// codes of their own.
enum class Directory { Exists, Missing };
// The I/O error code for an errno value of a failed system call (ENOENT -> 2, or 3 when the
// directory is missing; EACCES -> 5, ...); errno values without a code of their own are passed
// through.
int fileErrorCode(int errnoValue, Directory directory = Directory::Exists);
// Raises the file-system error for errnoValue.
[[noreturn]] void raiseFileError(int errnoValue, Directory directory = Directory::Exists);

// The text of the error box: a "." is appended when the text's last character sorts after ".".
QString errorBoxText(const QString& text);

// Shows the messages of the window. The default one opens modal message boxes; tests put a
// recorder in its place.
class TMessagePresenter
{
public:
    virtual ~TMessagePresenter() = default;
    // An error that ended a command: stop icon, OK button. text is already in its final form.
    virtual void showError(const QString& text) = 0;
    // The program's own message: no icon, OK button.
    virtual void showMessage(const QString& text) = 0;
};

class TMessageBoxPresenter : public TMessagePresenter
{
public:
    explicit TMessageBoxPresenter(QWidget* parent)
        : parent_(parent)
    { }
    void showError(const QString& text) override;
    void showMessage(const QString& text) override;

private:
    QWidget* parent_;
};
