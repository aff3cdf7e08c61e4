// TProgressBar: the window's progress bar, for which a range of 0..0 means nothing to count.
//
// Copy sets the maximum to the source's record count, which is 0 for an empty file. Qt draws a
// range of 0..0 as an endless busy animation, which would run on after the copy has ended; this
// bar draws it empty instead, and keeps the range as the command set it.
#pragma once

#include <QProgressBar>

class TProgressBar : public QProgressBar
{
    Q_OBJECT
public:
    using QProgressBar::QProgressBar;

protected:
    void paintEvent(QPaintEvent* event) override;
};
