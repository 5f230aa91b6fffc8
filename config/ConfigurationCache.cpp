// The process's kept configuration reads.
#include "config/ConfigurationCache.h"

#include <algorithm>

namespace qarn::config {

namespace {

// Values a kept read may hold: texts, numbers, dates, truth values, empty and null.
bool PlainValue(const VARIANT& value) {
    switch (value.vt) {
        case VT_EMPTY: case VT_NULL: case VT_BSTR: case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_UI1:
        case VT_UI2: case VT_UI4: case VT_UI8: case VT_INT: case VT_UINT: case VT_R4: case VT_R8: case VT_CY:
        case VT_DATE: case VT_BOOL: case VT_DECIMAL: case VT_ERROR:
            return true;
        default:
            return false;
    }
}

// The name and value of a field; false when the value is not plain.
bool CaptureField(IField* field, const Bstr& name, PlainField& plain) {
    plain.name.assign(name.View());
    CHECK_HR(field->get_Value(&plain.value));
    return PlainValue(plain.value);
}

ComPtr<IField> NewField(DataObjects& objects, const PlainField& plain) {
    ComPtr<IField> field = objects.New<IField>(CLSID_Field);
    CHECK_HR(field->put_Name(Bstr(std::wstring_view(plain.name))));
    CHECK_HR(field->put_Value(plain.value));
    return field;
}

}  // namespace

uint64_t HashBytes(const void* bytes, size_t count, uint64_t hash) noexcept {
    const auto* byte = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < count; ++i) hash = (hash ^ byte[i]) * 1099511628211ull;
    return hash;
}

FileStamp FileStamp::Of(const std::wstring& path) {
    FileStamp stamp;
    stamp.path = path;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return stamp;
    stamp.attributes = attributes;
    stamp.state = State::Unreadable;
    // Opened as a reader that lets others read only: whenever the parser's own open could fail,
    // this one fails as well, and the read is done afresh.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return stamp;
    char buffer[16384];
    uint64_t hash = kHashStart;
    ULONGLONG size = 0;
    DWORD got = 0;
    bool complete = false;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
        if (got == 0) {
            complete = true;
            break;
        }
        hash = HashBytes(buffer, got, hash);
        size += got;
    }
    CloseHandle(file);
    if (!complete) return stamp;
    stamp.state = State::Read;
    stamp.size = size;
    stamp.hash = hash;
    return stamp;
}

bool FileStamp::operator==(const FileStamp& other) const noexcept {
    return path == other.path && state == other.state && attributes == other.attributes && size == other.size &&
           hash == other.hash;
}

std::optional<PlainCollection> Capture(IFieldCollection* collection) {
    PlainCollection plain;
    if (!collection) return plain;
    plain.present = true;
    ComPtr<IFieldCollection> own;
    CHECK_HR(collection->get_Attributes(&own));
    if (own) return std::nullopt;
    bool keepable = true;
    ForEachField(collection, [&](IField* field, const Bstr& name) {
        if (!keepable) return;
        PlainField captured;
        keepable = CaptureField(field, name, captured);
        ComPtr<IFieldCollection> attributes;
        CHECK_HR(field->get_Attributes(&attributes));
        if (keepable && attributes) {
            captured.hasAttributes = true;
            ForEachField(attributes.Get(), [&](IField* attribute, const Bstr& attributeName) {
                if (!keepable) return;
                PlainField item;
                ComPtr<IFieldCollection> nested;
                CHECK_HR(attribute->get_Attributes(&nested));
                // A value stored encrypted was decrypted into the field: its clear text is not kept.
                keepable = CaptureField(attribute, attributeName, item) && !nested && item.name != L"x3nc";
                captured.attributes.push_back(std::move(item));
            });
        }
        plain.fields.push_back(std::move(captured));
    });
    if (!keepable) return std::nullopt;
    return plain;
}

ComPtr<IFieldCollection> Rebuild(const PlainCollection& plain, DataObjects& objects) {
    ComPtr<IFieldCollection> collection;
    if (!plain.present) return collection;
    collection = objects.New<IFieldCollection>(CLSID_FieldCollection);
    for (const PlainField& item : plain.fields) {
        ComPtr<IField> field = NewField(objects, item);
        if (item.hasAttributes) {
            ComPtr<IFieldCollection> attributes = objects.New<IFieldCollection>(CLSID_FieldCollection);
            for (const PlainField& attribute : item.attributes) CHECK_HR(attributes->Add(NewField(objects, attribute).Get()));
            CHECK_HR(field->put_Attributes(attributes.Get()));
        }
        CHECK_HR(collection->Add(field.Get()));
    }
    return collection;
}

ConfigurationCache& ConfigurationCache::Process() {
    static ConfigurationCache cache;
    return cache;
}

std::shared_ptr<const ConfigurationSnapshot> ConfigurationCache::Find(const std::wstring& key) {
    std::shared_ptr<const ConfigurationSnapshot> found;
    std::unique_lock<std::mutex> guard(lock_);
    for (const Entry& entry : entries_)
        if (entry.key == key) found = entry.snapshot;
    guard.unlock();
    if (!found) return found;
    // The files and the environment are looked at outside the lock; a snapshot is never changed.
    bool valid = found->environment == EnvironmentBlock();
    for (size_t i = 0; valid && i < found->files.size(); ++i) valid = FileStamp::Of(found->files[i].path) == found->files[i];
    if (valid) return found;
    guard.lock();
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [&](const Entry& entry) { return entry.snapshot == found; }),
                   entries_.end());
    return nullptr;
}

void ConfigurationCache::Keep(const std::wstring& key, std::shared_ptr<const ConfigurationSnapshot> snapshot) {
    std::lock_guard<std::mutex> guard(lock_);
    try {
        entries_.erase(std::remove_if(entries_.begin(), entries_.end(), [&](const Entry& entry) { return entry.key == key; }),
                       entries_.end());
        if (entries_.size() >= kMaxEntries) entries_.erase(entries_.begin());
        entries_.push_back({key, std::move(snapshot)});
    } catch (...) {
        // Without memory for the entry the read is simply not kept.
    }
}

}  // namespace qarn::config
