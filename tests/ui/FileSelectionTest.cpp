// Choosing the directory and the source file.
#include "WindowFixture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

class FileSelection : public WindowTest
{
protected:
    void SetUp() override
    {
        previous = QDir::currentPath();
        ASSERT_TRUE(dir.isValid());
        for (const char* name : {"A.BTR", "b.btr", "C.Btr", "d.dat", "E.DDF", "noext"}) {
            QFile f(dir.filePath(QString::fromLatin1(name)));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("sub")));
        ASSERT_TRUE(QDir::setCurrent(dir.path()));
        WindowTest::SetUp();
    }
    void TearDown() override
    {
        WindowTest::TearDown();
        QDir::setCurrent(previous);
    }
    QStringList listed() const
    {
        QStringList names;
        for (int i = 0; i < window->FileListBox->count(); ++i)
            names << window->FileListBox->item(i)->text();
        return names;
    }
    void chooseFilter(int index) { window->FilterComboBox1->setCurrentIndex(index); }

    QTemporaryDir dir;
    QString previous;
};

TEST_F(FileSelection, ListsTheFilesMatchingTheMaskWithoutRegardToCase)
{
    EXPECT_EQ(window->FileListBox->mask(), QStringLiteral("*.BTR"));
    EXPECT_EQ(listed(), QStringList({"A.BTR", "b.btr", "C.Btr"}));
    EXPECT_EQ(window->EFrom->text(), QStringLiteral("*.BTR"));

    chooseFilter(1);
    EXPECT_EQ(listed(), QStringList {"E.DDF"});
    EXPECT_EQ(window->EFrom->text(), QStringLiteral("*.DDF"));
    chooseFilter(2);
    EXPECT_EQ(listed(), QStringList({"A.BTR", "b.btr", "C.Btr", "d.dat", "E.DDF", "noext"}));
    EXPECT_EQ(window->EFrom->text(), QStringLiteral("*.*"));

    window->FileListBox->setMask(QStringLiteral("*.dat;*.ddf"));
    EXPECT_EQ(listed(), QStringList({"d.dat", "E.DDF"}));
}

TEST_F(FileSelection, EFromFollowsTheSelection)
{
    QListWidget* list = window->FileListBox;
    const QRect second = list->visualItemRect(list->item(1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, second.center());
    EXPECT_EQ(window->EFrom->text(), QStringLiteral("b.btr"));
    EXPECT_EQ(window->EFrom->selectedText(), QStringLiteral("b.btr"));
    list->setCurrentRow(0);
    EXPECT_EQ(window->EFrom->text(), QStringLiteral("A.BTR"));
    list->clearSelection();
    EXPECT_EQ(window->EFrom->text(), QStringLiteral("*.BTR"));

    // A re-read leaves no selection, so the mask shows again.
    list->setCurrentRow(2);
    ASSERT_EQ(window->EFrom->text(), QStringLiteral("C.Btr"));
    window->FileListBox->reread();
    EXPECT_TRUE(list->selectedItems().isEmpty());
    EXPECT_EQ(window->EFrom->text(), QStringLiteral("*.BTR"));
}

TEST_F(FileSelection, ChoosingADirectoryMakesItCurrent)
{
    QListWidget* dirs = window->DirectoryListBox;
    QListWidgetItem* sub = nullptr;
    for (int i = 0; i < dirs->count(); ++i)
        if (dirs->item(i)->text().trimmed() == QStringLiteral("sub"))
            sub = dirs->item(i);
    ASSERT_TRUE(sub);
    window->FileListBox->setCurrentRow(0);
    dirs->scrollToItem(sub);
    // A double click: press and release, then the second press that the platform reports as a
    // double click.
    const QPoint at = dirs->visualItemRect(sub).center();
    QTest::mouseClick(dirs->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(dirs->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    EXPECT_EQ(QDir::currentPath(), QDir(dir.path()).absoluteFilePath(QStringLiteral("sub")));
    EXPECT_TRUE(listed().isEmpty());
    EXPECT_EQ(window->EFrom->text(), QStringLiteral("*.BTR"));
    // The list now shows the new directory as its current entry, under its parent.
    EXPECT_EQ(dirs->currentItem()->text().trimmed(), QStringLiteral("sub"));
    bool parentListed = false;
    for (int i = 0; i < dirs->count(); ++i)
        parentListed |= dirs->item(i)->text().trimmed() == QDir(dir.path()).dirName();
    EXPECT_TRUE(parentListed);

    // Back up through the parent's entry, chosen with the keyboard.
    for (int i = 0; i < dirs->count(); ++i) {
        if (dirs->item(i)->text().trimmed() == QDir(dir.path()).dirName()) {
            dirs->setCurrentRow(i);
            break;
        }
    }
    QTest::keyClick(dirs, Qt::Key_Return);
    EXPECT_EQ(QDir::currentPath(), QDir(dir.path()).absolutePath());
    EXPECT_EQ(listed(), QStringList({"A.BTR", "b.btr", "C.Btr"}));
}

TEST_F(FileSelection, ADirectoryThatIsGoneGivesTheFileSystemError)
{
    QListWidget* dirs = window->DirectoryListBox;
    ASSERT_TRUE(QDir(dir.path()).rmdir(QStringLiteral("sub")));
    for (int i = 0; i < dirs->count(); ++i) {
        if (dirs->item(i)->text().trimmed() == QStringLiteral("sub"))
            emit dirs->itemActivated(dirs->item(i));
    }
    EXPECT_EQ(presenter->errors, QStringList {"File not found."});
    EXPECT_EQ(QDir::currentPath(), QDir(dir.path()).absolutePath());
}

TEST_F(FileSelection, TheDriveListShowsTheVolumeOfTheCurrentDirectory)
{
    ASSERT_GT(window->DriveComboBox->count(), 0);
    const QString root = window->DriveComboBox->currentText();
    EXPECT_TRUE(QDir::currentPath().startsWith(root)) << root.toStdString();
}

} // namespace
