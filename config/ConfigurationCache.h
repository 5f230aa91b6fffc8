// What a configuration read gave, kept for the process so that the next read of unchanged files
// (the application's Create after Destroy) builds its collections without parsing them again.
//
// A kept read is used only while everything it depended on is as it was: every file it looked at
// (present or absent, and for a present file its bytes, read in full and compared by a hash, and
// that it can be read at all), the process environment (values hold expanded %NAME% references)
// and the installation root as a full path; never while the calling thread overrides a variable.
// Size and write time alone would not do: a file copied over another keeps its source's time, and
// files unpacked from one archive share theirs. A read is kept only when nothing else went into it: no property or message lookup, no
// macro, field function or template of a property file, and no value stored encrypted (clear text
// is never kept beyond the store that holds it). The steps that differ on every read (the private
// check-in and check-out folders) are not part of what is kept.
#pragma once

#include "base/DataObjects.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace qarn::config {

// A field as plain data: name, value and its attributes (which have none of their own).
struct PlainField {
    std::wstring name;
    Variant value;
    std::vector<PlainField> attributes;
    bool hasAttributes = false;
};

// A collection as plain data; `present` is false for a collection that was not there (null).
struct PlainCollection {
    bool present = false;
    std::vector<PlainField> fields;
};

// The state of a file as a read saw it: absent, present but not readable (held open by another
// program that shares no reading, say), or present with these bytes (their size and hash).
struct FileStamp {
    enum class State { Absent, Unreadable, Read };
    std::wstring path;
    State state = State::Absent;
    DWORD attributes = 0;
    ULONGLONG size = 0;
    uint64_t hash = 0;

    static FileStamp Of(const std::wstring& path);
    bool operator==(const FileStamp& other) const noexcept;
};

// The 64-bit FNV-1a hash of bytes, continued from `hash` (start with kHashStart).
inline constexpr uint64_t kHashStart = 14695981039346656037ull;
uint64_t HashBytes(const void* bytes, size_t count, uint64_t hash = kHashStart) noexcept;

// One kept read.
struct ConfigurationSnapshot {
    std::vector<FileStamp> files;
    std::wstring environment;  // the process environment block the values were expanded with
    PlainCollection properties;   // after the property files, before the per-read folders
    PlainCollection jniOptions;
    PlainCollection messages;
    std::vector<std::wstring> propertyFileLog;  // trace lines of the property files, in order
    std::vector<std::wstring> resourceFileLog;  // trace lines of the resource files, in order
};

// The plain form of a collection; nullopt when it holds what a kept read must not keep (an object
// value, attributes with attributes, a value marked encrypted).
std::optional<PlainCollection> Capture(IFieldCollection* collection);
// A new collection of new fields from the plain form (null for one that was not there).
ComPtr<IFieldCollection> Rebuild(const PlainCollection& plain, DataObjects& objects);

// The process's kept reads, by installation root and requested language. Safe for concurrent use:
// a snapshot handed out is shared and never changed.
class ConfigurationCache {
public:
    static ConfigurationCache& Process();

    // The kept read for the key if it is still valid, else null (and it is forgotten).
    std::shared_ptr<const ConfigurationSnapshot> Find(const std::wstring& key);
    void Keep(const std::wstring& key, std::shared_ptr<const ConfigurationSnapshot> snapshot);

private:
    struct Entry {
        std::wstring key;
        std::shared_ptr<const ConfigurationSnapshot> snapshot;
    };
    static constexpr size_t kMaxEntries = 8;
    std::mutex lock_;
    std::vector<Entry> entries_;  // the most recent last
};

}  // namespace qarn::config
