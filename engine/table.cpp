#include "engine/table.h"

#include "engine/os/file_system.h"
#include "engine/paradox/add_index.h"
#include "engine/paradox/table_file.h"
#include "engine/paths.h"

namespace atua {
namespace {

TFieldType fieldTypeOf(std::uint8_t type) {
    namespace ft = paradox::ft;
    switch (type) {
        case ft::Alpha: return TFieldType::ftString;
        case ft::Date: return TFieldType::ftDate;
        case ft::Short: return TFieldType::ftSmallint;
        case ft::Long: return TFieldType::ftInteger;
        case ft::Money: return TFieldType::ftCurrency;
        case ft::Number: return TFieldType::ftFloat;
        case ft::Logical: return TFieldType::ftBoolean;
        case ft::Memo: return TFieldType::ftMemo;
        case ft::Blob: return TFieldType::ftBlob;
        case ft::FmtMemo: return TFieldType::ftFmtMemo;
        case ft::Ole: return TFieldType::ftParadoxOle;
        case ft::Graphic: return TFieldType::ftGraphic;
        case ft::Time: return TFieldType::ftTime;
        case ft::Timestamp: return TFieldType::ftDateTime;
        case ft::AutoInc: return TFieldType::ftAutoInc;
        case ft::Bcd: return TFieldType::ftBCD;
        case ft::Bytes: return TFieldType::ftBytes;
        default: return TFieldType::ftUnknown;
    }
}

std::vector<TFieldDef> fieldDefsOf(const paradox::TableHeader& h) {
    std::vector<TFieldDef> defs;
    int no = 1;
    for (const auto& f : h.fields) {
        TFieldDef d;
        d.Name = f.name;
        d.DataType = fieldTypeOf(f.type);
        if (f.type == paradox::ft::Alpha || f.type == paradox::ft::Bytes || f.type == paradox::ft::Bcd) d.Size = f.sizeByte;
        else if (paradox::isBlobType(f.type)) d.Size = f.sizeByte - 10;
        d.FieldNo = no++;
        defs.push_back(std::move(d));
    }
    return defs;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> splitFields(std::string_view list) {
    std::vector<std::string_view> names;
    while (true) {
        std::size_t semi = list.find(';');
        std::string_view name = trim(list.substr(0, semi));
        if (!name.empty()) names.push_back(name);
        if (semi == std::string_view::npos) break;
        list.remove_prefix(semi + 1);
    }
    return names;
}

}  // namespace

const TFieldDef* TFieldDefs::Find(std::string_view name) const {
    for (const auto& d : items_)
        if (paths::equalsNoCase(d.Name, name)) return &d;
    return nullptr;
}

struct TTable::Impl {
    paradox::OpenTable open;  // valid while the table is active
    bool active = false;
    std::string fieldDefsPath;  // the table the field definitions were read from
};

TTable::TTable() : TTable(os::realFileSystem()) {}
TTable::TTable(os::FileSystem& fs) : fs_(fs), impl_(std::make_unique<Impl>()) {}
TTable::~TTable() = default;

bool TTable::Active() const { return impl_->active; }

std::string TTable::resolvedPath() const {
    std::string path = TableName;
    if (!DatabaseName.empty() && !paths::isAbsolute(path)) path = paths::join(DatabaseName, path);
    if (path.empty()) throw EDatabaseError("No table name given");
    std::string ext = paths::extension(path);
    if (TableType == TTableType::ttDefault) {
        if (ext.empty()) path += ".db";
        else if (!paths::equalsNoCase(ext, ".db"))
            throw EDatabaseError("Table " + path + " is not a Paradox table (.db): its kind of table is not supported");
    }
    return path;
}

void TTable::SetActive(bool active) {
    if (active == impl_->active) return;
    if (!active) {
        impl_->open = {};
        impl_->active = false;
        return;
    }
    std::string path = resolvedPath();
    paradox::recoverInterruptedUpdate(fs_, path);
    paradox::OpenTable t = paradox::openTable(fs_, path, ReadOnly ? os::Access::Read : os::Access::ReadWrite,
                                              Exclusive ? os::Share::Exclusive : os::Share::Shared);
    paradox::walkChain(*t.file, t.header, path);
    FieldDefs.Assign(fieldDefsOf(t.header));
    impl_->fieldDefsPath = path;
    // The index definitions come with the open; a file that cannot be read leaves them out of date.
    try {
        IndexDefs.Assign(paradox::listIndexes(fs_, path, t.header));
    } catch (const Exception&) {
        IndexDefs.Clear();
    }
    impl_->open = std::move(t);
    impl_->active = true;
}

void TTable::Refresh() {
    if (!impl_->active) throw EDatabaseError("Cannot refresh table " + resolvedPath() + ": it is not open");
    std::string path = resolvedPath();
    auto& t = impl_->open;
    try {
        t.fileSize = t.file->size();
    } catch (const os::OsError& e) {
        paradox::raiseOsError(e, path);
    }
    t.header = paradox::readHeader(*t.file, t.fileSize, path);
    paradox::walkChain(*t.file, t.header, path);
    FieldDefs.Assign(fieldDefsOf(t.header));
}

std::int64_t TTable::RecordCount() const {
    if (!impl_->active) throw EDatabaseError("Cannot count the records of table " + TableName + ": it is not open");
    return impl_->open.header.numRecords;
}

void TTable::AddIndex(std::string_view Name, std::string_view Fields, TIndexOptions Options, std::string_view DescFields) {
    std::string path = resolvedPath();
    if (impl_->active)
        throw EDatabaseError("Cannot add an index to table " + path + " while this program has it open; close it first");
    // 1. Current field definitions, read by path when needed.
    if (!FieldDefs.Updated() || impl_->fieldDefsPath != path) {
        paradox::recoverInterruptedUpdate(fs_, path);
        paradox::OpenTable t = paradox::openTable(fs_, path, os::Access::Read, os::Share::Shared);
        FieldDefs.Assign(fieldDefsOf(t.header));
        impl_->fieldDefsPath = path;
    }
    // 2. Every named field must exist before the engine is asked for anything.
    auto resolve = [&](std::string_view list) {
        std::vector<int> numbers;
        for (std::string_view name : splitFields(list)) {
            const TFieldDef* def = FieldDefs.Find(name);
            if (!def) throw EDatabaseError("Field '" + std::string(name) + "' not found in table " + path);
            numbers.push_back(def->FieldNo);
        }
        return numbers;
    };
    // 3. The index description.
    paradox::IndexRequest request;
    request.name = std::string(trim(Name));
    request.options = Options;
    if (Options.contains(TIndexOption::ixExpression))
        throw EDatabaseError("Expression indexes are not supported for Paradox table " + path);
    request.fields = resolve(Fields);
    if (request.fields.empty()) throw EDatabaseError("No key fields given for the new index of table " + path);
    request.descFields = resolve(DescFields);
    // 4. The engine changes the file.
    paradox::addIndex(fs_, path, request);
    // 5.
    IndexDefs.MarkOutOfDate();
}

}  // namespace atua
