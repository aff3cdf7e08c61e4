// A presenter that keeps what the window would have shown and answers with scripted replies.
#pragma once

#include "Presenter.h"

#include <QStringList>

namespace recordstest {

class Recorder : public records::Presenter
{
public:
    struct Log
    {
        QStringList errors;
        QStringList questions;
        QStringList reports;
        QStringList ownerAsked;
        bool answer = true;
        std::optional<QString> owner;
    };

    explicit Recorder(Log& log)
        : log_(log)
    { }
    void error(QWidget*, const QString& text) override { log_.errors << text; }
    bool confirm(QWidget*, const QString& question) override
    {
        log_.questions << question;
        return log_.answer;
    }
    std::optional<QString> ownerName(QWidget*, const QString& file) override
    {
        log_.ownerAsked << file;
        return log_.owner;
    }
    void report(QWidget*, const QString& title, const QString& text) override
    {
        log_.reports << title + QStringLiteral("\n") + text;
    }

private:
    Log& log_;
};

} // namespace recordstest
