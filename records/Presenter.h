// The one place the records window shows a message box or asks the user something. Tests replace
// it with a recorder that keeps the texts and gives scripted answers.
#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace records {

// The caption of the window and of its message boxes.
inline constexpr const char* RecordsTitle = "Varnok Records";

class Presenter
{
public:
    virtual ~Presenter();
    // A failure: a stop-icon box.
    virtual void error(QWidget* parent, const QString& text);
    // A question answered yes or no.
    virtual bool confirm(QWidget* parent, const QString& question);
    // The owner name of a file whose records are encrypted; nothing when the user cancels.
    virtual std::optional<QString> ownerName(QWidget* parent, const QString& file);
    // A longer text to read (the salvage report).
    virtual void report(QWidget* parent, const QString& title, const QString& text);
};

} // namespace records
