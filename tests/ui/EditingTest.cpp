// Editing the definition in the window: flag boxes, segment rows, extended types.
#include "WindowFixture.h"

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QLineEdit>

namespace {

using Editing = WindowTest;

TEST_F(Editing, KeyFlagBoxWritesItsBitIntoTheCurrentRow)
{
    fillRows({{"0", "1", "4", ""}, {"0", "5", "2", "65537"}});
    clickCell(0, 1);
    QTest::mouseClick(window->ChSegmented, Qt::LeftButton);
    EXPECT_EQ(window->GrKeys->cell(3, 1), QStringLiteral("16"));

    clickCell(1, 2);
    EXPECT_TRUE(window->ChDuplicates->isChecked());
    // Unchecking keeps the bits beyond the eleven shown.
    QTest::mouseClick(window->ChDuplicates, Qt::LeftButton);
    EXPECT_EQ(window->GrKeys->cell(3, 2), QStringLiteral("65536"));
    EXPECT_EQ(window->GrKeys->cell(3, 1), QStringLiteral("16"));
    EXPECT_TRUE(presenter->errors.isEmpty());
}

TEST_F(Editing, FileFlagBoxWritesItsBitIntoEFlags)
{
    window->EFlags->setText(QStringLiteral("3"));
    QTest::mouseClick(window->ChUseVATs, Qt::LeftButton);
    EXPECT_EQ(window->EFlags->text(), QStringLiteral("2051"));
    // A program change runs the action too; setting the state a box has runs nothing.
    window->EFlags->setText(QStringLiteral("$10"));
    window->ChUseVATs->setChecked(true);
    EXPECT_EQ(window->EFlags->text(), QStringLiteral("$10"));
    window->ChUseVATs->setChecked(false);
    EXPECT_EQ(window->EFlags->text(), QStringLiteral("16"));
    // Typing into EFlags does not move the boxes.
    window->EFlags->clear();
    QTest::keyClicks(window->EFlags, QStringLiteral("4095"));
    EXPECT_FALSE(window->ChVarLen->isChecked());
}

TEST_F(Editing, BadTextStopsTheActionAndKeepsTheBoxState)
{
    window->EFlags->setText(QStringLiteral("abc"));
    QTest::mouseClick(window->ChVarLen, Qt::LeftButton);
    EXPECT_TRUE(window->ChVarLen->isChecked());
    EXPECT_EQ(window->EFlags->text(), QStringLiteral("abc"));
    EXPECT_EQ(presenter->errors, QStringList {"'abc' is not a valid integer value."});
}

TEST_F(Editing, ShowSegmentRowShowsFlagsAndExtendedType)
{
    fillRows({{"0", "1", "4", "$10", "", "2"}, {"0", "1", "4", "256", "", "12"},
        {"0", "1", "4", "0", "", "14"}, {"0", "1", "4", "256", "", "270"},
        {"0", "1", "4", "1287", "", "15"}});
    clickCell(0, 1);
    EXPECT_EQ(checkedKeyFlags(), QStringList {"ChSegmented"});
    // Any box that changed state rewrote the cell in plain decimal.
    EXPECT_EQ(window->GrKeys->cell(3, 1), QStringLiteral("16"));
    EXPECT_TRUE(window->BExtKey->currentText().isEmpty());

    const std::pair<int, const char*> shown[]
        = {{2, ""}, {3, ""}, {4, "Unsigned"}, {5, "Autoincrement"}};
    for (const auto& [row, text] : shown) {
        clickCell(0, row);
        EXPECT_EQ(window->BExtKey->currentText(), QString::fromLatin1(text)) << row;
    }
    EXPECT_EQ(window->GrKeys->cell(5, 4), QStringLiteral("270"));
    EXPECT_EQ(checkedKeyFlags(),
        QStringList({"ChDuplicates", "ChModifiable", "ChBinary", "ChExtType", "ChCaseInsens"}));
    EXPECT_EQ(window->GrKeys->cell(3, 5), QStringLiteral("1287"));
    EXPECT_TRUE(presenter->errors.isEmpty());
}

TEST_F(Editing, LettersInAFlagsCellRaiseOnceWhenItsCellIsClicked)
{
    fillRows({{"0", "1", "4", "3"}, {"0", "1", "4", "xyz"}});
    clickCell(0, 1);
    ASSERT_EQ(checkedKeyFlags(), QStringList({"ChDuplicates", "ChModifiable"}));
    clickCell(3, 2);
    EXPECT_EQ(presenter->errors, QStringList {"'xyz' is not a valid integer value."});
    EXPECT_EQ(checkedKeyFlags(), QStringList({"ChDuplicates", "ChModifiable"}));
}

TEST_F(Editing, InsertDuplicatesTheCurrentRowAndDeleteRemovesIt)
{
    const QStringList a {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
    const QStringList b {"0", "11", "12", "19", "14", "15", "16", "17", "18", "19"};
    const QStringList c {"1", "21", "22", "23", "24", "25", "26", "27", "28", "29"};
    fillRows({a, b, c});
    clickCell(1, 2);
    releaseKey(Qt::Key_Insert);
    ASSERT_EQ(window->GrKeys->rowCount(), 5);
    EXPECT_EQ(rowTexts(1), a);
    EXPECT_EQ(rowTexts(2), b);
    EXPECT_EQ(rowTexts(3), b);
    EXPECT_EQ(rowTexts(4), c);
    EXPECT_EQ(window->GrKeys->currentRow(), 2);
    // Insert and Delete leave the boxes showing what they showed.
    EXPECT_EQ(checkedKeyFlags(), QStringList({"ChDuplicates", "ChModifiable", "ChSegmented"}));

    releaseKey(Qt::Key_Delete);
    ASSERT_EQ(window->GrKeys->rowCount(), 4);
    EXPECT_EQ(rowTexts(1), a);
    EXPECT_EQ(rowTexts(2), b);
    EXPECT_EQ(rowTexts(3), c);
    EXPECT_EQ(rowTexts(0)[2], QStringLiteral("Lenght"));
}

TEST_F(Editing, KeyReleaseInTheEditorCountsOnceAndRepeatIsIgnored)
{
    fillRows({{"0", "1"}, {"0", "2"}, {"0", "3"}, {"0", "4"}});
    clickCell(1, 1);
    ASSERT_TRUE(window->GrKeys->editor());
    QLineEdit* editor = window->GrKeys->editor();
    // Key repeat: the presses and releases sent while the key is held, then the real release.
    for (int i = 0; i < 3; ++i) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(editor, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Delete, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(editor, &release);
    }
    EXPECT_EQ(window->GrKeys->rowCount(), 5);
    QTest::keyRelease(window->GrKeys->editor(), Qt::Key_Delete);
    ASSERT_EQ(window->GrKeys->rowCount(), 4);
    EXPECT_EQ(window->GrKeys->cell(1, 1), QStringLiteral("2"));
    EXPECT_EQ(window->GrKeys->cell(1, 3), QStringLiteral("4"));
    // Released in the grid itself it counts as well.
    window->GrKeys->closeInPlaceEditor();
    QTest::keyRelease(window->GrKeys, Qt::Key_Delete);
    EXPECT_EQ(window->GrKeys->rowCount(), 3);
}

TEST_F(Editing, ModifierHeldOnlyRefreshesTheBoxes)
{
    fillRows({{"0", "1", "4", "1"}, {"0", "2", "4", "2"}});
    clickCell(1, 1);
    ASSERT_EQ(checkedKeyFlags(), QStringList {"ChDuplicates"});
    window->GrKeys->setCell(3, 1, QStringLiteral("4"));
    for (const auto mod : {Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier}) {
        releaseKey(Qt::Key_Delete, mod);
        releaseKey(Qt::Key_Insert, mod);
    }
    EXPECT_EQ(window->GrKeys->rowCount(), 3);
    EXPECT_EQ(checkedKeyFlags(), QStringList {"ChBinary"});
}

TEST_F(Editing, DeleteDownToTheHeaderThenInsertAnEmptyRow)
{
    fillRows({{"0", "1"}});
    clickCell(1, 1);
    releaseKey(Qt::Key_Delete);
    ASSERT_EQ(window->GrKeys->rowCount(), 1);
    releaseKey(Qt::Key_Delete);
    ASSERT_EQ(window->GrKeys->rowCount(), 1);
    releaseKey(Qt::Key_Insert);
    ASSERT_EQ(window->GrKeys->rowCount(), 2);
    EXPECT_EQ(rowTexts(1).join(QString()), QString());
    EXPECT_EQ(rowTexts(0),
        QStringList({"Key", "Pos", "Lenght", "Flags", "NumKeys", "ExtType", "NullVal", "Reserv",
            "NumManual", "NumACS"}));
    // The new row is the current one: flag boxes write into it.
    EXPECT_EQ(window->GrKeys->currentRow(), 1);
    QTest::mouseClick(window->ChACS, Qt::LeftButton);
    EXPECT_EQ(window->GrKeys->cell(3, 1), QStringLiteral("32"));
    EXPECT_TRUE(window->ChACS->isChecked());
    EXPECT_EQ(presenter->errors, QStringList());
}

TEST_F(Editing, TypedTextGoesIntoTheCell)
{
    fillRows({{"0", ""}, {"0", ""}});
    clickCell(1, 2);
    QTest::keyClicks(window->GrKeys->editor(), QStringLiteral("42"));
    EXPECT_EQ(window->GrKeys->cell(1, 2), QStringLiteral("42"));
    // Typed at the grid, the keys reach the editor all the same.
    clickCell(2, 2);
    QTest::keyClicks(window->GrKeys, QStringLiteral("17"));
    EXPECT_EQ(window->GrKeys->cell(2, 2), QStringLiteral("17"));
    // Typing into the Flags cell refreshes the boxes on each release.
    clickCell(3, 2);
    QTest::keyClicks(window->GrKeys->editor(), QStringLiteral("5"));
    EXPECT_EQ(checkedKeyFlags(), QStringList({"ChDuplicates", "ChBinary"}));
}

TEST_F(Editing, ChoosingAnExtendedTypeWritesItsCode)
{
    fillRows({{"0", "1", "4", "3", "", ""}});
    clickCell(0, 1);
    const std::pair<int, const char*> choices[]
        = {{13, "15"}, {1, "1"}, {11, "11"}, {12, "14"}, {14, "17"}, {0, "0"}};
    for (const auto& [index, code] : choices) {
        window->BExtKey->setCurrentIndex(index);
        emit window->BExtKey->activated(index);
        EXPECT_EQ(window->GrKeys->cell(5, 1), QString::fromLatin1(code)) << index;
    }
    EXPECT_EQ(window->GrKeys->cell(3, 1), QStringLiteral("3"));
    // A program change of the selection writes nothing; neither does free text.
    window->BExtKey->setCurrentIndex(3);
    EXPECT_EQ(window->GrKeys->cell(5, 1), QStringLiteral("0"));
    window->BExtKey->lineEdit()->clear();
    QTest::keyClicks(window->BExtKey->lineEdit(), QStringLiteral("Dat"));
    EXPECT_EQ(window->GrKeys->cell(5, 1), QStringLiteral("0"));
    QTest::keyClicks(window->BExtKey->lineEdit(), QStringLiteral("e"));
    EXPECT_EQ(window->GrKeys->cell(5, 1), QStringLiteral("3"));
    // The start of an item's text is not completed into the item.
    window->BExtKey->lineEdit()->clear();
    QTest::keyClicks(window->BExtKey->lineEdit(), QStringLiteral("Au"));
    EXPECT_EQ(window->BExtKey->currentText(), QStringLiteral("Au"));
    EXPECT_EQ(window->GrKeys->cell(5, 1), QStringLiteral("3"));
}

} // namespace
