// TVarnok: the program's one window, with every control and every command handler.
//
// Between Open and Create a file's definition lives only as text in the window: the eight header
// edits, the cells of GrKeys, EACSName and the cells of ACSGrid. Every action reads the current
// text, changes one thing and writes the text back.
#pragma once

#include "Errors.h"
#include "FileSelection.h"
#include "StringGrid.h"

#include "SpecBuffer.h"
#include "WinBtr.h"

#include <QWidget>

#include <array>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

// The file definition shared by Open and Create, in the record manager's Stat/Create layout.
extern spec::SpecBuffer SpecBuffer;

class TVarnok : public QWidget
{
    Q_OBJECT
public:
    explicit TVarnok(QWidget* parent = nullptr);
    ~TVarnok() override;

    // Column numbers of GrKeys.
    enum KeyColumn {
        ColKey,
        ColPos,
        ColLength,
        ColFlags,
        ColNumKeys,
        ColExtType,
        ColNullVal,
        ColReserv,
        ColNumManual,
        ColNumAcs,
        KeyColumnCount
    };

    // Controls. Each name is its kind ("E" edit, "L" label, "Ch" check box, "B" button or the
    // extended-type combo box) followed by what it shows; a handler's name is its control's name
    // followed by the event (BOpenClick), and tests find the controls by these names.
    QLineEdit* EFrom;
    QLineEdit* ETo;
    QPushButton* BOpen;
    QPushButton* BDelete;
    QPushButton* BCreate;
    QPushButton* BCopy;
    QLineEdit* ERecLen;
    QLineEdit* EPgSize;
    QLineEdit* ENIndex;
    QLineEdit* ENRec;
    QLineEdit* EFlags;
    QLineEdit* EExtraDupl;
    QLineEdit* EReserv;
    QLineEdit* ENPage;
    QCheckBox* ChVarLen;
    QCheckBox* ChBlankTranc;
    QCheckBox* ChPreAlloc;
    QCheckBox* ChDataCompres;
    QCheckBox* ChKeyOnly;
    QCheckBox* ChIndexBalan;
    QCheckBox* Ch10Free;
    QCheckBox* Ch20Free;
    QCheckBox* ChDuplPoint;
    QCheckBox* ChReserv;
    QCheckBox* ChKeyNumSpec;
    QCheckBox* ChUseVATs;
    TStringGrid* GrKeys;
    QCheckBox* ChDuplicates;
    QCheckBox* ChModifiable;
    QCheckBox* ChBinary;
    QCheckBox* ChNullKey_AllSeg;
    QCheckBox* ChSegmented;
    QCheckBox* ChACS;
    QCheckBox* ChDescending;
    QCheckBox* ChRepeatDupl;
    QCheckBox* ChExtType;
    QCheckBox* ChNullKey_AnySeg;
    QCheckBox* ChCaseInsens;
    QComboBox* BExtKey;
    TDriveComboBox* DriveComboBox;
    TDirectoryListBox* DirectoryListBox;
    TFileListBox* FileListBox;
    TFilterComboBox* FilterComboBox1;
    QProgressBar* ProgressBar;
    TStringGrid* ACSGrid;
    QLineEdit* EACSName;
    QPushButton* BMode;
    QPushButton* BFileACS;
    QLabel* LSizeFile;

    // The twelve file-flag boxes (bit 0 first) and the eleven key-flag boxes (bit 0 first).
    std::array<QCheckBox*, 12> FileFlagBoxes {};
    std::array<QCheckBox*, 11> KeyFlagBoxes {};

    // What the cells of ACSGrid hold: characters (true) or decimal codes (false).
    bool AcsShowsChars = false;
    // The window's data file object, for as long as the window lives.
    std::unique_ptr<TWinBtr> BtrFile;

    // Puts another presenter in place of the message boxes (tests record the texts).
    void setPresenter(std::unique_ptr<TMessagePresenter> presenter);
    TMessagePresenter& presenter() { return *presenter_; }

    // Runs one handler: a conversion or file-system error it raises ends it and is shown in the
    // error box. Returns false when the handler ended with an error.
    template <class Handler> bool guard(Handler&& handler)
    {
        try {
            handler();
            return true;
        } catch (const EVarnokError& error) {
            reportError(error.message());
        } catch (const std::exception& error) {
            reportError(QString::fromLocal8Bit(error.what()));
        }
        return false;
    }
    // How many errors have been shown so far.
    int errorCount() const { return errorCount_; }

    // Start-up and shut-down.
    void OnCreate();
    void OnDestroy();

    // Commands.
    void BOpenClick();
    void BCreateClick();
    void BCopyClick();
    void BDeleteClick();
    void BModeClick();
    void BFileACSClick();

    // The ACSGrid cell that holds byte i (0 to 255) of the collating sequence.
    QString acsCell(int i) const;
    void setAcsCell(int i, const QString& text);

    // Editing.
    void ShowSegmentRow(int column, int row);
    void GrKeysOnMouseDown();
    void GrKeysOnGetEditText(int column, int row);
    void GrKeysOnKeyUp(int key, Qt::KeyboardModifiers modifiers);
    void BExtKeyChange();
    // The click action of a key-flag box (bit 0 to 10) and of a file-flag box (bit 0 to 11).
    void keyFlagClick(int bit);
    void fileFlagClick(int bit);

    void ChDuplicatesClick() { keyFlagClick(0); }
    void ChModifiableClick() { keyFlagClick(1); }
    void ChBinaryClick() { keyFlagClick(2); }
    void ChNullKey_AllSegClick() { keyFlagClick(3); }
    void ChSegmentedClick() { keyFlagClick(4); }
    void ChACSClick() { keyFlagClick(5); }
    void ChDescendingClick() { keyFlagClick(6); }
    void ChRepeatDuplClick() { keyFlagClick(7); }
    void ChExtTypeClick() { keyFlagClick(8); }
    void ChNullKey_AnySegClick() { keyFlagClick(9); }
    void ChCaseInsensClick() { keyFlagClick(10); }
    void ChVarLenClick() { fileFlagClick(0); }
    void ChBlankTrancClick() { fileFlagClick(1); }
    void ChPreAllocClick() { fileFlagClick(2); }
    void ChDataCompresClick() { fileFlagClick(3); }
    void ChKeyOnlyClick() { fileFlagClick(4); }
    void ChIndexBalanClick() { fileFlagClick(5); }
    void Ch10FreeClick() { fileFlagClick(6); }
    void Ch20FreeClick() { fileFlagClick(7); }
    void ChDuplPointClick() { fileFlagClick(8); }
    void ChReservClick() { fileFlagClick(9); }
    void ChKeyNumSpecClick() { fileFlagClick(10); }
    void ChUseVATsClick() { fileFlagClick(11); }

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Shape of ACSGrid and the headers of GrKeys: written at start-up, measured by the layout.
    static constexpr int AcsColumns = 33;
    static constexpr int AcsRows = 9;
    static constexpr const char* KeyHeaders[KeyColumnCount] = {"Key", "Pos", "Lenght", "Flags",
        "NumKeys", "ExtType", "NullVal", "Reserv", "NumManual", "NumACS"};

    // Unit1Layout.cpp: the controls, their geometry and tab order.
    void buildControls();
    void arrangeControls();
    // Unit1.cpp: the wiring of the handlers, and what they share.
    void connectHandlers();
    void reportError(const QString& text);
    void deleteSegmentRow();
    void insertSegmentRow();
    void refreshFileList();
    void acsCodesToChars();
    bool segmentRowsUseAcs() const;

    std::unique_ptr<TMessagePresenter> presenter_;
    int errorCount_ = 0;
    int errorsBeforePress_ = 0;
    bool centred_ = false;
};
