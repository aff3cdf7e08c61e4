#include "Unit1.h"

#include "CopyRecords.h"
#include "FileSystem.h"
#include "Messages.h"
#include "TextToInt.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <cstring>
#include <optional>

spec::SpecBuffer SpecBuffer;

namespace {

constexpr int KeyGridRows = 14;
constexpr int AcsCells = 256;

// The byte a cell in character display stands for: the code of its first character. An empty
// cell stands for 0; a character beyond the 8-bit range for "?".
uint8_t firstCharCode(const QString& text)
{
    if (text.isEmpty())
        return 0;
    const char16_t u = text.front().unicode();
    return u <= 0xFF ? static_cast<uint8_t>(u) : static_cast<uint8_t>('?');
}

QString charText(uint8_t code)
{
    return QString(QChar(static_cast<char16_t>(code)));
}

// A name typed for a file, in the record manager's 8-bit characters.
QByteArray acsNameBytes(const QString& text)
{
    QByteArray bytes;
    for (QChar c : text)
        bytes.append(c.unicode() <= 0xFF ? static_cast<char>(c.unicode()) : '?');
    return bytes;
}

// A name that is still a file mask: "*..." or a drive letter and colon before "*".
bool isMask(const QString& name)
{
    return name.startsWith(QLatin1Char('*')) || (name.size() >= 3 && name[2] == QLatin1Char('*'));
}

// The message of a Copy that stopped, in the words the command line uses too.
QString copyStopped(const char* what, const QString& name, int16_t status,
    const CopyOutcome& outcome, const QString& destination)
{
    return QString::fromStdString(
        ::copyStopped(what, name.toStdString(), status, outcome, destination.toStdString()));
}

} // namespace

TVarnok::TVarnok(QWidget* parent)
    : QWidget(parent)
    , presenter_(std::make_unique<TMessageBoxPresenter>(this))
{
    setObjectName(QStringLiteral("Varnok"));
    setWindowTitle(QString::fromLatin1(ApplicationTitle));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    setFont(font);
    buildControls();
    arrangeControls();
    connectHandlers();
    OnCreate();
    EFrom->setFocus();
}

TVarnok::~TVarnok()
{
    OnDestroy();
    // The controls outlive this object's own part by a little: nothing they signal while they
    // are taken down may reach a handler.
    for (QObject* child : children())
        QObject::disconnect(child, nullptr, this, nullptr);
}

void TVarnok::setPresenter(std::unique_ptr<TMessagePresenter> presenter)
{
    presenter_ = std::move(presenter);
}

void TVarnok::reportError(const QString& text)
{
    ++errorCount_;
    presenter_->showError(errorBoxText(text));
}

void TVarnok::OnCreate()
{
    BtrFile = std::make_unique<TWinBtr>(nullptr);
    GrKeys->setRowCount(KeyGridRows);
    for (int c = 0; c < KeyColumnCount; ++c)
        GrKeys->setCell(c, 0, QString::fromLatin1(KeyHeaders[c]));
    ACSGrid->setRowCount(AcsRows);
    for (int c = 0; c < AcsColumns; ++c)
        ACSGrid->setCell(c, 0, QString::number(c));
    for (int r = 1; r < AcsRows; ++r)
        ACSGrid->setCell(0, r, QString::number(r));
    GrKeys->setCurrentCell(1, 0);
}

void TVarnok::OnDestroy()
{
    // Freeing the object closes a file it still holds open.
    BtrFile.reset();
}

void TVarnok::connectHandlers()
{
    for (size_t i = 0; i < FileFlagBoxes.size(); ++i) {
        connect(FileFlagBoxes[i], &QCheckBox::toggled, this,
            [this, i] { guard([&] { fileFlagClick(static_cast<int>(i)); }); });
    }
    for (size_t i = 0; i < KeyFlagBoxes.size(); ++i) {
        connect(KeyFlagBoxes[i], &QCheckBox::toggled, this,
            [this, i] { guard([&] { keyFlagClick(static_cast<int>(i)); }); });
    }
    connect(BOpen, &QPushButton::clicked, this, [this] { guard([&] { BOpenClick(); }); });
    connect(BCreate, &QPushButton::clicked, this, [this] { guard([&] { BCreateClick(); }); });
    connect(BCopy, &QPushButton::clicked, this, [this] { guard([&] { BCopyClick(); }); });
    connect(BDelete, &QPushButton::clicked, this, [this] { guard([&] { BDeleteClick(); }); });
    connect(BMode, &QPushButton::clicked, this, [this] { guard([&] { BModeClick(); }); });
    connect(BFileACS, &QPushButton::clicked, this, [this] { guard([&] { BFileACSClick(); }); });
    connect(BExtKey, &QComboBox::activated, this, [this] { guard([&] { BExtKeyChange(); }); });
    connect(BExtKey->lineEdit(), &QLineEdit::textEdited, this,
        [this] { guard([&] { BExtKeyChange(); }); });

    GrKeys->onGetEditText
        = [this](int col, int row) { guard([&] { GrKeysOnGetEditText(col, row); }); };
    // An error raised while the press moved the editor (the Flags cell's text fetch) ends the
    // press: the mouse-down handler then does not run.
    GrKeys->onMousePress = [this] { errorsBeforePress_ = errorCount_; };
    GrKeys->onMouseDown = [this](QMouseEvent*) {
        if (errorCount_ == errorsBeforePress_)
            guard([&] { GrKeysOnMouseDown(); });
    };
    GrKeys->onKeyUp = [this](QKeyEvent* event) {
        guard([&] { GrKeysOnKeyUp(event->key(), event->modifiers()); });
    };

    connect(DriveComboBox, &QComboBox::activated, this,
        [this](int index) { guard([&] { DriveComboBox->openVolume(index); }); });
    connect(DirectoryListBox, &QListWidget::itemActivated, this,
        [this](QListWidgetItem* item) { guard([&] { DirectoryListBox->openItem(item); }); });
    connect(DirectoryListBox, &TDirectoryListBox::directoryChanged, DriveComboBox,
        &TDriveComboBox::showVolumeOf);
    connect(FilterComboBox1, &QComboBox::currentIndexChanged, this,
        [this] { guard([&] { FilterComboBox1->applyMask(); }); });
}

void TVarnok::ShowSegmentRow(int column, int row)
{
    (void)column;
    if (row < 1)
        return;
    // Both cells are read before anything is set, so a bad text changes nothing.
    const auto flags = static_cast<uint16_t>(TextToInt(GrKeys->cell(ColFlags, row)));
    const auto code = static_cast<uint8_t>(TextToInt(GrKeys->cell(ColExtType, row)));
    for (size_t bit = 0; bit < KeyFlagBoxes.size(); ++bit)
        KeyFlagBoxes[bit]->setChecked((flags >> bit) & 1U);
    const int index = ChExtType->isChecked() ? spec::comboIndexForCode(code) : -1;
    BExtKey->setCurrentIndex(index);
    if (index < 0)
        BExtKey->setEditText(QString());
}

void TVarnok::GrKeysOnMouseDown()
{
    ShowSegmentRow(GrKeys->currentColumn(), GrKeys->currentRow());
}

void TVarnok::GrKeysOnGetEditText(int column, int row)
{
    if (column == ColFlags)
        ShowSegmentRow(column, row);
}

void TVarnok::GrKeysOnKeyUp(int key, Qt::KeyboardModifiers modifiers)
{
    const bool plain = (modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier))
        == Qt::NoModifier;
    if (plain && key == Qt::Key_Delete)
        deleteSegmentRow();
    else if (plain && key == Qt::Key_Insert)
        insertSegmentRow();
    else
        ShowSegmentRow(GrKeys->currentColumn(), GrKeys->currentRow());
}

void TVarnok::deleteSegmentRow()
{
    const int rows = GrKeys->rowCount();
    const int r = GrKeys->currentRow();
    if (rows <= 1 || r < 1)
        return;
    const int column = std::max(GrKeys->currentColumn(), 0);
    GrKeys->closeInPlaceEditor();
    for (int i = r + 1; i < rows; ++i)
        GrKeys->copyRow(i, i - 1);
    GrKeys->setRowCount(rows - 1);
    if (rows - 1 > 1) {
        GrKeys->moveQuietly(column, std::min(r, rows - 2));
        GrKeys->showEditor(false);
    }
}

void TVarnok::insertSegmentRow()
{
    const int rows = GrKeys->rowCount();
    const int column = std::max(GrKeys->currentColumn(), 0);
    GrKeys->closeInPlaceEditor();
    GrKeys->setRowCount(rows + 1);
    if (rows <= 1) {
        // No segment row left to copy: the new row starts empty and the header keeps its texts.
        GrKeys->moveQuietly(column, 1);
    } else {
        const int r = std::max(GrKeys->currentRow(), 1);
        for (int i = rows - 1; i >= r; --i)
            GrKeys->copyRow(i, i + 1);
        GrKeys->moveQuietly(column, r);
    }
    GrKeys->showEditor(false);
}

void TVarnok::BExtKeyChange()
{
    const int row = GrKeys->currentRow();
    if (row < 1)
        return;
    // The item the text names; text typed freely names none and writes nothing.
    const int index = BExtKey->findText(BExtKey->currentText(), Qt::MatchFixedString);
    const int code = spec::codeForComboIndex(index);
    if (code >= 0)
        GrKeys->setCell(ColExtType, row, QString::number(code));
}

void TVarnok::keyFlagClick(int bit)
{
    const int row = GrKeys->currentRow();
    if (row < 1)
        return;
    int32_t v = TextToInt(GrKeys->cell(ColFlags, row));
    v = (v & ~(1 << bit)) | (BoolToBit(KeyFlagBoxes[static_cast<size_t>(bit)]->isChecked()) << bit);
    GrKeys->setCell(ColFlags, row, QString::number(v));
}

void TVarnok::fileFlagClick(int bit)
{
    int32_t v = TextToInt(EFlags->text());
    v = (v & ~(1 << bit))
        | (BoolToBit(FileFlagBoxes[static_cast<size_t>(bit)]->isChecked()) << bit);
    EFlags->setText(QString::number(v));
}

QString TVarnok::acsCell(int i) const
{
    return ACSGrid->cell(i % 32 + 1, i / 32 + 1);
}

void TVarnok::setAcsCell(int i, const QString& text)
{
    ACSGrid->setCell(i % 32 + 1, i / 32 + 1, text);
}

void TVarnok::refreshFileList()
{
    // Changing the mask re-reads the directory; going through "*.*" re-reads it also when the
    // mask is "*.*" itself.
    const QString mask = FileListBox->mask();
    FileListBox->setMask(QStringLiteral("*.*"));
    FileListBox->setMask(mask);
}

void TVarnok::BOpenClick()
{
    const QString name = EFrom->text();
    // Only row 1 is left, so it becomes the current row, which the key-flag boxes write into.
    GrKeys->setRowCount(2);
    GrKeys->moveQuietly(std::max(GrKeys->currentColumn(), 0), 1);
    EACSName->clear();
    for (int i = 0; i < AcsCells; ++i)
        setAcsCell(i, QString());

    BtrFile->Open(systemName(name).constData(), "", 0);
    if (BtrFile->GetStatus() != btr::status::Success) {
        for (int c = 0; c < KeyColumnCount; ++c)
            GrKeys->setCell(c, GrKeys->rowCount() - 1, QString());
        presenter_->showMessage(QStringLiteral(" Can't open  ") + name);
        return;
    }
    // A failed Stat leaves the buffer all zero, which shows as an empty definition.
    BtrFile->StatTo(SpecBuffer.data());
    GrKeys->showEditor();

    QLineEdit* const headerEdits[]
        = {ERecLen, EPgSize, ENIndex, ENRec, EFlags, EExtraDupl, EReserv, ENPage};
    for (size_t f = 0; f < spec::file::All.size(); ++f)
        headerEdits[f]->setText(QString::number(SpecBuffer.headerField(spec::file::All[f])));
    // Each box that changes rewrites its bit into EFlags, which already holds the same value.
    const auto fileFlags = static_cast<uint16_t>(SpecBuffer.headerField(spec::file::FileFlags));
    for (size_t bit = 0; bit < FileFlagBoxes.size(); ++bit)
        FileFlagBoxes[bit]->setChecked((fileFlags >> bit) & 1U);

    // The entries up to the one that completes the last key; none for a file without keys.
    const spec::Layout layout = SpecBuffer.readLayout();
    GrKeys->setRowCount(layout.entryCount + 1);
    for (int k = 0; k < layout.entryCount; ++k) {
        const int row = k + 1;
        GrKeys->setCell(ColKey, row, QString::number(layout.keyOfEntry[static_cast<size_t>(k)]));
        for (size_t f = 0; f < spec::segment::All.size(); ++f) {
            GrKeys->setCell(static_cast<int>(f) + 1, row,
                QString::number(SpecBuffer.segmentField(k, spec::segment::All[f])));
        }
    }
    ShowSegmentRow(0, 1);

    if (layout.hasAcs) {
        if (const std::optional<spec::AcsBlock> acs = SpecBuffer.acs(layout.entryCount)) {
            EACSName->setText(QString::fromLatin1(acs->Name));
            for (int i = 0; i < AcsCells; ++i)
                setAcsCell(i, charText(acs->Table[static_cast<size_t>(i)]));
        }
    }
    BtrFile->Close();

    if (isMask(name))
        return;
    LSizeFile->setText(QString::number(fileSize(name)));
    AcsShowsChars = true;
}

bool TVarnok::segmentRowsUseAcs() const
{
    for (int r = 1; r < GrKeys->rowCount(); ++r) {
        try {
            if (TextToInt(GrKeys->cell(ColFlags, r)) & spec::keyflag::Acs)
                return true;
        } catch (const EConvertError&) {
            // Reported when the row is encoded.
        }
    }
    return false;
}

void TVarnok::acsCodesToChars()
{
    for (int i = 0; i < AcsCells; ++i)
        setAcsCell(i, charText(static_cast<uint8_t>(TextToInt(acsCell(i)))));
    AcsShowsChars = true;
}

void TVarnok::BCreateClick()
{
    const QString destination = ETo->text();
    const QByteArray destinationName = systemName(destination);
    const int rows = GrKeys->rowCount();
    const int n = rows - 1;

    // What does not fit the key buffer or the 1920-byte definition is refused before anything
    // is written into either.
    if (destinationName.size() >= btr::KeyBufferSize) {
        presenter_->showMessage(
            QStringLiteral("Cannot create the file: its name is longer than %1 characters.")
                .arg(btr::KeyBufferSize - 1));
        return;
    }
    if (n > spec::MaxEntries) {
        presenter_->showMessage(QStringLiteral(
            "Cannot create %1: %2 key segments do not fit the definition (at most %3).")
                                    .arg(destination)
                                    .arg(n)
                                    .arg(spec::MaxEntries));
        return;
    }
    if (n > spec::MaxEntriesWithAcs && segmentRowsUseAcs()) {
        presenter_->showMessage(
            QStringLiteral("Cannot create %1: %2 key segments and a collating sequence do not fit "
                           "the definition (at most %3 segments with a collating sequence).")
                .arg(destination)
                .arg(n)
                .arg(spec::MaxEntriesWithAcs));
        return;
    }

    int keyCount = 0;
    bool acsNeeded = false;
    for (int r = 1; r <= n; ++r) {
        for (size_t f = 0; f < spec::segment::All.size(); ++f) {
            SpecBuffer.setSegmentField(
                r - 1, spec::segment::All[f], TextToInt(GrKeys->cell(static_cast<int>(f) + 1, r)));
        }
        const auto flags
            = static_cast<uint16_t>(SpecBuffer.segmentField(r - 1, spec::segment::KeyFlags));
        if ((flags & spec::keyflag::Segmented) == 0)
            ++keyCount;
        if (flags & spec::keyflag::Acs)
            acsNeeded = true;
    }

    if (acsNeeded) {
        spec::AcsBlock block;
        block.Name = acsNameBytes(EACSName->text().left(spec::AcsNameSize)).toStdString();
        SpecBuffer.setAcs(n, block);
        if (!AcsShowsChars)
            acsCodesToChars();
        for (int i = 0; i < AcsCells; ++i)
            block.Table[static_cast<size_t>(i)] = firstCharCode(acsCell(i));
        SpecBuffer.setAcs(n, block);
    }

    SpecBuffer.setHeaderField(spec::file::RecordLength, TextToInt(ERecLen->text()));
    SpecBuffer.setHeaderField(spec::file::PageSize, TextToInt(EPgSize->text()));
    SpecBuffer.setHeaderField(spec::file::NumIndexes, keyCount);
    ENIndex->setText(QString::number(keyCount));
    SpecBuffer.setHeaderField(spec::file::NumRecords, TextToInt(ENRec->text()));
    SpecBuffer.setHeaderField(spec::file::FileFlags, TextToInt(EFlags->text()));
    SpecBuffer.setHeaderField(spec::file::DuplicatePointers, TextToInt(EExtraDupl->text()));
    SpecBuffer.setHeaderField(spec::file::Reserved, TextToInt(EReserv->text()));
    SpecBuffer.setHeaderField(spec::file::UnusedPages, TextToInt(ENPage->text()));

    BtrFile->ClearKey(255);
    std::memcpy(BtrFile->KeyBuffer, destinationName.constData(),
        static_cast<size_t>(destinationName.size()) + 1);
    BtrFile->KeyNumber = 0;
    const int16_t status = BtrFile->CallWith(btr::op::Create, SpecBuffer.data(), spec::BufferSize);

    refreshFileList();
    if (status != btr::status::Success) {
        presenter_->showMessage(
            QString::fromStdString(cannotDo("Cannot create", destination.toStdString(), status)));
    }
}

void TVarnok::BCopyClick()
{
    const QString source = EFrom->text();
    const QString destination = ETo->text();
    // Copying a file into itself would read back the records it inserts.
    if (sameFile(source, destination)) {
        presenter_->showMessage(
            QStringLiteral("Cannot copy %1 into itself (%2).").arg(source, destination));
        return;
    }

    auto DestBtrFile = std::make_unique<TWinBtr>(nullptr);
    BtrFile->Open(systemName(source).constData(), "", 0);
    if (BtrFile->GetStatus() != btr::status::Success) {
        const int16_t status = BtrFile->GetStatus();
        BtrFile->Close();
        DestBtrFile.reset();
        presenter_->showMessage(copyStopped("Cannot open", source, status, {}, destination));
        return;
    }
    DestBtrFile->Open(systemName(destination).constData(), "", 0);
    if (DestBtrFile->GetStatus() != btr::status::Success) {
        const int16_t status = DestBtrFile->GetStatus();
        BtrFile->Close();
        DestBtrFile.reset();
        presenter_->showMessage(copyStopped("Cannot open", destination, status, {}, destination));
        return;
    }

    ProgressBar->setMaximum(BtrFile->RecordCount());
    CopyOutcome outcome = copyRecords(
        *BtrFile, *DestBtrFile, [this] { ProgressBar->setValue(ProgressBar->value() + 1); });
    ProgressBar->setValue(0);
    BtrFile->Close();
    closeDestination(*DestBtrFile, systemName(destination).constData(), outcome);
    DestBtrFile.reset();

    if (outcome.failed()) {
        const bool readFailed = outcome.stop == CopyOutcome::Read;
        presenter_->showMessage(copyStopped(copyStopWhat(outcome), readFailed ? source : destination,
            outcome.status, outcome, destination));
    }
}

void TVarnok::BDeleteClick()
{
    const QString name = EFrom->text();
    if (name.isEmpty() || isMask(name))
        return;
    deleteFile(name);
    refreshFileList();
}

void TVarnok::BModeClick()
{
    if (AcsShowsChars) {
        for (int i = 0; i < AcsCells; ++i)
            setAcsCell(i, QString::number(firstCharCode(acsCell(i))));
        AcsShowsChars = false;
    } else {
        acsCodesToChars();
    }
}

void TVarnok::BFileACSClick()
{
    const QString name = EACSName->text();
    if (name.isEmpty() || name.front() == QLatin1Char(' '))
        return;
    // All 256 values are taken before the file is touched, so a cell that is not a number
    // leaves no half-written file behind.
    QStringList values;
    for (int i = 0; i < AcsCells; ++i) {
        const int code = AcsShowsChars ? firstCharCode(acsCell(i))
                                       : static_cast<uint8_t>(TextToInt(acsCell(i)));
        values << QString::number(code);
    }
    writeFile(name, values.join(QLatin1Char(',')).toLatin1());
}
