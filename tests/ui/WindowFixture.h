// A fresh window for each test, with its messages recorded instead of shown.
#pragma once

#include "Unit1.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

class RecordingPresenter : public TMessagePresenter
{
public:
    void showError(const QString& text) override { errors << text; }
    void showMessage(const QString& text) override { messages << text; }
    QStringList errors;
    QStringList messages;
};

class WindowTest : public testing::Test
{
protected:
    void SetUp() override
    {
        window = std::make_unique<TVarnok>();
        auto recorder = std::make_unique<RecordingPresenter>();
        presenter = recorder.get();
        window->setPresenter(std::move(recorder));
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void TearDown() override { window.reset(); }

    // Clicks into a GrKeys cell (column, row), as the user does.
    void clickCell(int col, int row)
    {
        TStringGrid* grid = window->GrKeys;
        grid->scrollTo(grid->model()->index(row, col));
        const QRect rect = grid->visualRect(grid->model()->index(row, col));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    }
    // Releases a key in the grid's in-place editor (or in the grid when none is open).
    void releaseKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QWidget* target = window->GrKeys->editor() ? static_cast<QWidget*>(window->GrKeys->editor())
                                                   : static_cast<QWidget*>(window->GrKeys);
        QTest::keyRelease(target, key, modifiers);
    }
    // Fills GrKeys body rows with texts, row by row, columns 0 to 9.
    void fillRows(const std::vector<QStringList>& rows)
    {
        window->GrKeys->setRowCount(static_cast<int>(rows.size()) + 1);
        for (size_t r = 0; r < rows.size(); ++r)
            for (int c = 0; c < rows[r].size(); ++c)
                window->GrKeys->setCell(c, static_cast<int>(r) + 1, rows[r][c]);
    }
    QStringList rowTexts(int row) const
    {
        QStringList texts;
        for (int c = 0; c < window->GrKeys->colCount(); ++c)
            texts << window->GrKeys->cell(c, row);
        return texts;
    }
    QStringList checkedKeyFlags() const
    {
        QStringList names;
        for (QCheckBox* box : window->KeyFlagBoxes)
            if (box->isChecked())
                names << box->objectName();
        return names;
    }

    std::unique_ptr<TVarnok> window;
    RecordingPresenter* presenter = nullptr;
};
