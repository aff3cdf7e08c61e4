// The selected record's bytes: offset, hex and the text in the file's code page, 16 bytes a line.
// The bytes of the field chosen in the table are marked; a click on a byte says which byte it
// was, and a dragged selection of bytes can become a new field.
#pragma once

#include <QPlainTextEdit>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace records {

class RecordPane : public QPlainTextEdit
{
    Q_OBJECT
public:
    static constexpr int BytesPerLine = 16;

    explicit RecordPane(QWidget* parent = nullptr);

    void setCodePage(const std::string& encoding);
    void setRecord(const std::vector<uint8_t>& bytes);
    void clearRecord();
    // Marks `length` bytes from `offset` (length 0: to the record's end), or none with length -1.
    void markBytes(int offset, int length);

    int recordLength() const { return int(bytes_.size()); }
    // The bytes the user selected, 0-based; length 0 when none.
    int selectedOffset() const { return selectedOffset_; }
    int selectedLength() const { return selectedLength_; }
    // The byte shown at a character of the text (its hex or its letter); -1 elsewhere.
    static int byteAt(int line, int column);
    // The character where byte `offset`'s hex begins, and where its letter is.
    int hexCharacter(int offset) const;
    int textCharacter(int offset) const;

signals:
    void byteClicked(int offset);
    void bytesSelected(int offset, int length);

private:
    void render();
    void onCursor();

    std::vector<uint8_t> bytes_;
    std::array<QChar, 256> letters_ {};
    int markOffset_ = 0;
    int markLength_ = -1;
    int selectedOffset_ = 0;
    int selectedLength_ = 0;
    bool rendering_ = false;
};

} // namespace records
