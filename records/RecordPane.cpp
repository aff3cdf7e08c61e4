#include "RecordPane.h"

#include "TextDecoder.h"

#include <QFontDatabase>
#include <QTextBlock>

namespace records {

namespace {

// A line: six hex digits of offset, two blanks, 16 bytes of two hex digits and a blank, a blank,
// then the 16 letters.
constexpr int OffsetWidth = 6;
constexpr int HexStart = OffsetWidth + 2;
constexpr int TextStart = HexStart + RecordPane::BytesPerLine * 3 + 1;
constexpr int LineWidth = TextStart + RecordPane::BytesPerLine + 1; // with the newline

} // namespace

RecordPane::RecordPane(QWidget* parent)
    : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setCodePage(fields::DefaultEncoding);
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, &RecordPane::onCursor);
    connect(this, &QPlainTextEdit::selectionChanged, this, &RecordPane::onCursor);
}

void RecordPane::setCodePage(const std::string& encoding)
{
    std::array<uint32_t, 256> table {};
    const bool known = fields::singleByteTable(encoding, table);
    for (int b = 0; b < 256; ++b) {
        const uint32_t c = known ? table[size_t(b)] : uint32_t(b < 0x80 ? b : fields::NoCharacter);
        const bool printable = c != fields::NoCharacter && c >= 0x20 && c != 0x7F
            && !(c >= 0x80 && c < 0xA0) && c <= 0xFFFF;
        letters_[size_t(b)] = printable ? QChar(char16_t(c)) : QChar(u'.');
    }
    render();
}

void RecordPane::setRecord(const std::vector<uint8_t>& bytes)
{
    bytes_ = bytes;
    selectedLength_ = 0;
    render();
}

void RecordPane::clearRecord()
{
    bytes_.clear();
    markLength_ = -1;
    render();
}

void RecordPane::markBytes(int offset, int length)
{
    markOffset_ = offset;
    markLength_ = length;
    QList<QTextEdit::ExtraSelection> marks;
    const int size = int(bytes_.size());
    const int end = length == 0 ? size : std::min(size, offset + length);
    if (length >= 0 && offset < size) {
        QTextCharFormat format;
        format.setBackground(QColor(0xB3, 0xD4, 0xFC));
        format.setForeground(QColor(0x10, 0x20, 0x40));
        // One selection per line and part, so that the blanks between lines are not marked.
        for (int from = offset; from < end;) {
            const int lineEnd = std::min(end, (from / BytesPerLine + 1) * BytesPerLine);
            QTextEdit::ExtraSelection hex;
            hex.format = format;
            hex.cursor = QTextCursor(document());
            hex.cursor.setPosition(hexCharacter(from));
            hex.cursor.setPosition(hexCharacter(lineEnd - 1) + 2, QTextCursor::KeepAnchor);
            marks.append(hex);
            QTextEdit::ExtraSelection text;
            text.format = format;
            text.cursor = QTextCursor(document());
            text.cursor.setPosition(textCharacter(from));
            text.cursor.setPosition(textCharacter(lineEnd - 1) + 1, QTextCursor::KeepAnchor);
            marks.append(text);
            from = lineEnd;
        }
    }
    setExtraSelections(marks);
}

int RecordPane::byteAt(int line, int column)
{
    int inLine = -1;
    if (column >= HexStart && column < HexStart + BytesPerLine * 3) {
        if ((column - HexStart) % 3 == 2)
            return -1;
        inLine = (column - HexStart) / 3;
    } else if (column >= TextStart && column < TextStart + BytesPerLine) {
        inLine = column - TextStart;
    }
    return inLine < 0 ? -1 : line * BytesPerLine + inLine;
}

int RecordPane::hexCharacter(int offset) const
{
    return offset / BytesPerLine * LineWidth + HexStart + offset % BytesPerLine * 3;
}

int RecordPane::textCharacter(int offset) const
{
    return offset / BytesPerLine * LineWidth + TextStart + offset % BytesPerLine;
}

void RecordPane::render()
{
    static const char digits[] = "0123456789abcdef";
    QString out;
    const int size = int(bytes_.size());
    out.reserve((size / BytesPerLine + 1) * LineWidth);
    for (int line = 0; line * BytesPerLine < size; ++line) {
        if (line > 0)
            out += QChar(u'\n');
        const int base = line * BytesPerLine;
        out += QStringLiteral("%1  ").arg(base, OffsetWidth, 16, QChar(u'0'));
        for (int i = 0; i < BytesPerLine; ++i) {
            if (base + i < size) {
                const uint8_t b = bytes_[size_t(base + i)];
                out += QChar(digits[b >> 4]);
                out += QChar(digits[b & 15]);
            } else {
                out += QStringLiteral("  ");
            }
            out += QChar(u' ');
        }
        out += QChar(u' ');
        for (int i = 0; i < BytesPerLine; ++i)
            out += base + i < size ? letters_[bytes_[size_t(base + i)]] : QChar(u' ');
    }
    rendering_ = true;
    setPlainText(out);
    rendering_ = false;
    markBytes(markOffset_, markLength_);
}

void RecordPane::onCursor()
{
    if (rendering_)
        return;
    const QTextCursor cursor = textCursor();
    const auto byteOf = [this](int position) {
        const QTextBlock block = document()->findBlock(position);
        return byteAt(block.blockNumber(), position - block.position());
    };
    if (!cursor.hasSelection()) {
        const int b = byteOf(cursor.position());
        selectedLength_ = 0;
        if (b >= 0 && b < int(bytes_.size()))
            emit byteClicked(b);
        return;
    }
    int from = byteOf(cursor.selectionStart());
    int to = byteOf(std::max(cursor.selectionEnd() - 1, cursor.selectionStart()));
    // A selection that starts or ends between bytes takes the next (or previous) whole byte.
    for (int p = cursor.selectionStart(); from < 0 && p < cursor.selectionEnd(); ++p)
        from = byteOf(p);
    for (int p = cursor.selectionEnd() - 1; to < 0 && p >= cursor.selectionStart(); --p)
        to = byteOf(p);
    if (from < 0 || to < 0 || to < from || to >= int(bytes_.size()))
        return;
    selectedOffset_ = from;
    selectedLength_ = to - from + 1;
    emit bytesSelected(selectedOffset_, selectedLength_);
}

} // namespace records
