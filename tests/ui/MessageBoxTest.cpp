// The real message boxes: an error in a stop-icon box, the program's own message in a plain one.
#include "Unit1.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

struct Shown
{
    QString title;
    QString text;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool seen = false;
};

// Reads the modal box as soon as it is up, then presses its OK button.
void closeNextBox(Shown& shown)
{
    QTimer::singleShot(0, [&shown] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        shown = {box->windowTitle(), box->text(), box->textFormat(), box->icon(), true};
        box->button(QMessageBox::Ok)->click();
    });
}

TEST(MessageBoxes, ErrorsGetAStopIconAndTheirDot)
{
    TVarnok window;
    window.show();
    window.EFlags->setText(QStringLiteral("1x"));
    Shown shown;
    closeNextBox(shown);
    QTest::mouseClick(window.ChVarLen, Qt::LeftButton);
    ASSERT_TRUE(shown.seen);
    EXPECT_EQ(shown.title, QStringLiteral("Varnok"));
    EXPECT_EQ(shown.text, QStringLiteral("'1x' is not a valid integer value."));
    EXPECT_EQ(shown.icon, QMessageBox::Critical);
    EXPECT_EQ(window.errorCount(), 1);
}

TEST(MessageBoxes, TheProgramsOwnMessageIsPlain)
{
    TVarnok window;
    window.show();
    window.EFrom->setText(QStringLiteral("<b>*.BTR</b>"));
    Shown shown;
    closeNextBox(shown);
    QTest::mouseClick(window.BOpen, Qt::LeftButton);
    ASSERT_TRUE(shown.seen);
    EXPECT_EQ(shown.title, QStringLiteral("Varnok"));
    EXPECT_EQ(shown.text, QStringLiteral(" Can't open  <b>*.BTR</b>"));
    EXPECT_EQ(shown.format, Qt::PlainText);
    EXPECT_EQ(shown.icon, QMessageBox::NoIcon);
    EXPECT_EQ(window.errorCount(), 0);
}

} // namespace
