#include "ProgressBar.h"

#include <QStyleOptionProgressBar>
#include <QStylePainter>

void TProgressBar::paintEvent(QPaintEvent* event)
{
    if (minimum() != 0 || maximum() != 0) {
        QProgressBar::paintEvent(event);
        return;
    }
    // Drawn as an empty bar of a one-step range: the style never sees the busy state, so it
    // starts no animation either.
    QStylePainter painter(this);
    QStyleOptionProgressBar option;
    initStyleOption(&option);
    option.maximum = 1;
    option.progress = 0;
    painter.drawControl(QStyle::CE_ProgressBar, option);
}
