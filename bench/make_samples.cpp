// Sample data files to try the program on, made through the record manager's entry point.
//
//   varnok_samples DIR
//
// Creates (replacing any that exist) in DIR:
//   CUSTOMER.BTR  customers; key 0 = last name + first name (two segments), key 1 = city
//                 through a case-folding collating sequence
//   NOKEYS.BTR    a log without keys
//   VARLEN.BTR    variable-length notes
//   TYPES.BTR     keys of extended types: autoincrement, date, zstring, integer
//   FILE.DDF, FIELD.DDF, INDEX.DDF  a data dictionary naming CUSTOMER.BTR's fields
#include "BtrCall.h"
#include "DefinitionImage.h"
#include "DictionaryRecords.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct SegmentDef
{
    uint16_t position;
    uint16_t length;
    uint16_t flags;
    uint8_t type;
    uint8_t acsNumber = 0;
};

struct FileDef
{
    uint16_t recordLength;
    uint16_t fileFlags;
    std::vector<std::vector<SegmentDef>> keys;
    std::string acsName; // one collating sequence, folding a-z onto A-Z, when not empty
};

std::vector<uint8_t> definitionImage(const FileDef& def)
{
    testsupport::DefinitionImage image;
    image.recordLength = def.recordLength;
    image.fileFlags = def.fileFlags;
    for (const auto& key : def.keys) {
        std::vector<testsupport::SegmentEntry> segments;
        for (const SegmentDef& s : key) {
            testsupport::SegmentEntry e;
            e.position = s.position;
            e.length = s.length;
            e.flags = static_cast<uint16_t>(s.flags | testsupport::ExtendedTypeKey);
            e.extType = s.type;
            e.acsNumber = s.acsNumber;
            segments.push_back(e);
        }
        image.addKey(segments);
    }
    if (!def.acsName.empty()) {
        std::vector<uint8_t> folding(256);
        for (int c = 0; c < 256; ++c)
            folding[size_t(c)] = static_cast<uint8_t>(c >= 'a' && c <= 'z' ? c - 32 : c);
        image.blocks.push_back(testsupport::acsBlock(def.acsName, folding));
    }
    return image.bytes();
}

class SampleFile
{
public:
    SampleFile(const std::string& path, const FileDef& def)
        : SampleFile(path, definitionImage(def))
    { }

    SampleFile(const std::string& path, std::vector<uint8_t> image)
        : path_(path)
    {
        std::vector<char> name(path.begin(), path.end());
        name.resize(256, 0);
        uint16_t length = static_cast<uint16_t>(image.size());
        status_
            = BTRCALLID(btr::op::Create, pos_, image.data(), &length, name.data(), 255, 0, nullptr);
        if (status_ == 0) {
            length = 0;
            status_
                = BTRCALLID(btr::op::Open, pos_, nullptr, &length, name.data(), 255, 0, nullptr);
            open_ = status_ == 0;
        }
    }

    ~SampleFile() { close(); }

    bool insert(std::vector<uint8_t>& record)
    {
        if (status_ != 0)
            return false;
        uint16_t length = static_cast<uint16_t>(record.size());
        status_
            = BTRCALLID(btr::op::Insert, pos_, record.data(), &length, key_, 255, 0xFF, nullptr);
        count_ += status_ == 0;
        return status_ == 0;
    }

    // Closes the file and says what it holds; false when anything failed.
    bool finish(const char* about)
    {
        int16_t closed = close();
        if (status_ == 0)
            status_ = closed;
        if (status_ == 0) {
            std::printf("%s: %d records; %s\n", path_.c_str(), count_, about);
            return true;
        }
        std::fprintf(
            stderr, "%s: status %d (%s)\n", path_.c_str(), status_, btr::statusText(status_));
        return false;
    }

private:
    int16_t close()
    {
        if (!open_)
            return 0;
        open_ = false;
        uint8_t scratch[4];
        uint16_t length = 4;
        return BTRCALLID(btr::op::Close, pos_, scratch, &length, key_, 255, 0, nullptr);
    }

    std::string path_;
    uint8_t pos_[btr::PositionBlockSize] = {};
    uint8_t key_[btr::KeyBufferSize] = {};
    int16_t status_ = 0;
    bool open_ = false;
    int count_ = 0;
};

void putText(std::vector<uint8_t>& r, size_t at, size_t width, const std::string& text)
{
    std::memset(&r[at], ' ', width);
    std::memcpy(&r[at], text.data(), std::min(width, text.size()));
}

template <typename T> void putNumber(std::vector<uint8_t>& r, size_t at, T value)
{
    for (size_t i = 0; i < sizeof(T); ++i)
        r[at + i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
}

const char* const lastNames[] = {"Smith", "Jones", "Miller", "Brown", "Garcia", "Wilson", "Taylor",
    "Moore", "Martin", "Clark", "Lewis", "Walker", "Young", "King", "Wright", "Scott", "Green",
    "Baker", "Adams", "Nelson"};
const char* const firstNames[] = {"Anna", "Ben", "Clara", "David", "Emma", "Felix", "Grace",
    "Henry", "Ida", "Jack", "Karen", "Liam", "Mia", "Noah", "Olga", "Paul"};
const char* const cities[] = {"Amsterdam", "berlin", "Berlin", "Cairo", "dublin", "Lisbon",
    "madrid", "Oslo", "Paris", "rome", "Vienna", "Zurich"};

bool makeCustomers(const std::string& dir)
{
    // id, last name, first name, city, balance in cents
    FileDef def {
        80, 0, {{{5, 20, 0x0003, 0}, {25, 15, 0x0003, 0}}, {{40, 20, 0x0023, 0, 0}}}, "UPPER"};
    SampleFile f(dir + "/CUSTOMER.BTR", def);
    for (int i = 0; i < 3000; ++i) {
        std::vector<uint8_t> r(80, 0);
        putNumber<int32_t>(r, 0, i + 1);
        putText(r, 4, 20, lastNames[(i * 7) % 20]);
        putText(r, 24, 15, firstNames[(i * 11) % 16]);
        putText(r, 39, 20, cities[(i * 5) % 12]);
        putNumber<int64_t>(r, 59, (i * 7919) % 100000 - 20000);
        if (!f.insert(r))
            break;
    }
    return f.finish("key 0 = last name + first name, key 1 = city (collating sequence UPPER)");
}

bool makeNoKeys(const std::string& dir)
{
    SampleFile f(dir + "/NOKEYS.BTR", FileDef {64, 0, {}, ""});
    for (int i = 0; i < 250; ++i) {
        std::vector<uint8_t> r(64, 0);
        putText(r, 0, 64, "Log entry " + std::to_string(i + 1) + ": nothing to report");
        if (!f.insert(r))
            break;
    }
    return f.finish("no keys");
}

bool makeVariable(const std::string& dir)
{
    // Fixed part: note number and length of the text that follows it.
    SampleFile f(dir + "/VARLEN.BTR", FileDef {8, 0x0001, {{{1, 4, 0, 1}}}, ""});
    for (int i = 0; i < 400; ++i) {
        size_t textLength = static_cast<size_t>((i * 37) % 1500);
        std::vector<uint8_t> r(8 + textLength, 0);
        putNumber<int32_t>(r, 0, i + 1);
        putNumber<int32_t>(r, 4, static_cast<int32_t>(textLength));
        for (size_t k = 0; k < textLength; ++k)
            r[8 + k] = static_cast<uint8_t>('a' + (i + k) % 26);
        if (!f.insert(r))
            break;
    }
    return f.finish("variable-length records of 8 to 1507 bytes, key 0 = note number");
}

bool makeTypes(const std::string& dir)
{
    // autoincrement id, date, zstring name, 2-byte integer score
    FileDef def {48, 0,
        {{{1, 4, 0, 15}}, {{5, 4, 0x0003, 3}}, {{9, 30, 0x0003, 11}}, {{39, 2, 0x0003, 1}}}, ""};
    SampleFile f(dir + "/TYPES.BTR", def);
    for (int i = 0; i < 500; ++i) {
        std::vector<uint8_t> r(48, 0);
        putNumber<int32_t>(r, 0, 0);                   // assigned by the record manager
        r[4] = static_cast<uint8_t>(1 + (i * 3) % 28); // day
        r[5] = static_cast<uint8_t>(1 + (i * 5) % 12); // month
        putNumber<uint16_t>(r, 6, static_cast<uint16_t>(1990 + (i * 7) % 35)); // year
        std::string name = std::string(lastNames[i % 20]) + " " + firstNames[(i / 20) % 16];
        std::memcpy(&r[8], name.c_str(), std::min<size_t>(name.size(), 29));
        putNumber<int16_t>(r, 38, static_cast<int16_t>((i * 131) % 2001 - 1000));
        if (!f.insert(r))
            break;
    }
    return f.finish("key 0 autoincrement, key 1 date, key 2 zstring, key 3 integer");
}

// The dictionary a program of the vendor's time kept beside its files: table Customers in
// CUSTOMER.BTR, its fields by name and type, its key 0 by its segments.
bool makeDictionary(const std::string& dir)
{
    using namespace testsupport;
    SampleFile tables(dir + "/FILE.DDF", fileDdfDefinition().bytes());
    Bytes table = tableRecord(1, "Customers", "CUSTOMER.BTR");
    tables.insert(table);
    bool ok = tables.finish("the dictionary's tables");

    struct Column
    {
        const char* name;
        uint8_t type;
        uint16_t offset;
        uint16_t size;
        uint8_t decimals;
    };
    // Types as the dictionary numbers them: 0 string, 1 integer, 6 money.
    const Column columns[] = {{"CustomerId", 1, 0, 4, 0}, {"LastName", 0, 4, 20, 0},
        {"FirstName", 0, 24, 15, 0}, {"City", 0, 39, 20, 0}, {"BalanceCents", 1, 59, 8, 0}};
    SampleFile fields(dir + "/FIELD.DDF", fieldDdfDefinition().bytes());
    uint16_t id = 1;
    for (const Column& c : columns) {
        Bytes r = fieldRecord(id++, 1, c.name, c.type, c.offset, c.size, c.decimals);
        fields.insert(r);
    }
    ok = fields.finish("the dictionary's fields") && ok;

    SampleFile indexes(dir + "/INDEX.DDF", indexDdfDefinition().bytes());
    Bytes last = indexRecord(1, 2, 0, 0);
    Bytes first = indexRecord(1, 3, 0, 1);
    Bytes city = indexRecord(1, 4, 1, 0);
    indexes.insert(last);
    indexes.insert(first);
    indexes.insert(city);
    return indexes.finish("the dictionary's indexes") && ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: varnok_samples DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = makeCustomers(dir);
    ok = makeNoKeys(dir) && ok;
    ok = makeVariable(dir) && ok;
    ok = makeTypes(dir) && ok;
    ok = makeDictionary(dir) && ok;
    return ok ? 0 : 1;
}
