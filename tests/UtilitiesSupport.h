// Helpers of the CQarnUtilities tests: owned texts and results, variants, scratch folders.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "Text.h"

namespace test {

using Str = qarn::Bstr;
using qarn::Variant;

// A number (VT_I4) where the callee expects a text.
inline Variant Number(long value) {
    Variant v;
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

// The outcome of a method with a BSTR result; takes ownership of the text.
struct Result {
    Result(HRESULT h, BSTR s) : hr(h), null(s == nullptr), text(ToWide(s)) { SysFreeString(s); }
    HRESULT hr;
    bool null;
    std::wstring text;
};

// The description of the thread's last failure without its "at" lines; takes it.
inline std::wstring TakeMessage() {
    std::wstring d = TakeErrorDescription();
    return d.substr(0, d.find(L"\n   at "));
}

// The message of a call that must fail with DISP_E_EXCEPTION.
inline std::wstring Failure(HRESULT hr) {
    EXPECT_EQ(DISP_E_EXCEPTION, hr);
    return TakeMessage();
}

inline std::wstring Wide(std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// The whole description of the thread's last failure with its line numbers masked ("line #"); takes it.
inline std::wstring TakeReport() { return MaskLines(TakeErrorDescription()); }

// Names and values of a field collection, "name=value" each; empty for a null collection.
inline std::vector<std::wstring> Entries(IFieldCollection* c) {
    std::vector<std::wstring> out;
    long n = 0;
    if (!c || FAILED(c->get_Count(&n))) return out;
    for (long i = 1; i <= n; ++i) {
        ComPtr<IField> f;
        c->get_Item(i, &f);
        BSTR name = nullptr, value = nullptr;
        f->get_Name(&name);
        f->get_StringValue(&value);
        out.push_back(ToWide(name) + L"=" + ToWide(value));
        SysFreeString(name);
        SysFreeString(value);
    }
    return out;
}

using Texts = std::vector<std::wstring>;

// The value of a field as text.
inline std::wstring TextOf(IField* field) {
    Str text;
    EXPECT_TRUE(field && field->get_StringValue(text.Out()) == S_OK);
    return std::wstring(text.View());
}

// The text of the field `name` of a collection (empty when there is none).
inline std::wstring ValueOf(IFieldCollection* fields, const wchar_t* name) {
    Str value;
    if (fields) fields->GetValue(Str(name), value.Out());
    return std::wstring(value.View());
}

// A new field collection holding the given names and text values in order.
inline ComPtr<IFieldCollection> NewFields(std::initializer_list<std::pair<const wchar_t*, std::wstring>> pairs = {}) {
    auto fields = Create<IFieldCollection>(CLSID_FieldCollection);
    for (const auto& [name, value] : pairs) fields->SetValue(Str(name), Variant(std::wstring_view(value)));
    return fields;
}

// Adds a structure with the given fields to a list.
inline void AddStructure(IParameterList* list, const wchar_t* name, const ComPtr<IFieldCollection>& fields) {
    auto structure = Create<IStructure>(CLSID_Structure);
    ComPtr<IStructureCollection> structures;
    structure->put_Name(Str(name));
    structure->put_FieldCollection(fields.Get());
    list->get_StructureCollection(&structures);
    structures->Add(structure.Get());
}

// Adds a table with the given rows to a list.
inline void AddTable(IParameterList* list, const wchar_t* name, std::initializer_list<ComPtr<IFieldCollection>> rows) {
    auto table = Create<ITable>(CLSID_Table);
    ComPtr<IFieldCollectionTable> all;
    ComPtr<ITableCollection> tables;
    table->put_Name(Str(name));
    table->get_FieldCollectionTable(&all);
    for (const auto& row : rows) all->Add(row.Get());
    list->get_TableCollection(&tables);
    tables->Add(table.Get());
}

inline std::wstring Joined(const Texts& texts, const wchar_t* separator) {
    std::wstring joined;
    for (const std::wstring& text : texts) joined += (joined.empty() ? L"" : separator) + text;
    return joined;
}

template <class I>
Texts AttributesOf(I* object) {
    ComPtr<IFieldCollection> a;
    if (object) object->get_Attributes(&a);
    return Entries(a.Get());
}

inline Texts FieldsOf(IParameterList* list) {
    ComPtr<IFieldCollection> fields;
    if (list) list->get_FieldCollection(&fields);
    return Entries(fields.Get());
}

// The rows of a table of a list, each as its "name=value" entries joined by `separator`.
inline Texts Rows(IParameterList* list, const wchar_t* name, const wchar_t* separator = L", ") {
    Texts rows;
    ComPtr<ITable> table;
    ComPtr<IFieldCollectionTable> all;
    if (!list || FAILED(list->GetTable(Str(name), &table)) || !table || FAILED(table->get_FieldCollectionTable(&all))) return rows;
    long count = 0;
    all->get_Count(&count);
    for (long i = 1; i <= count; ++i) {
        ComPtr<IFieldCollection> row;
        all->get_Item(i, &row);
        rows.push_back(Joined(Entries(row.Get()), separator));
    }
    return rows;
}

// A file or folder of the source tree (`relative` with slashes), as Wine shows it on drive Z:.
inline std::wstring SourcePath(const std::string& relative) {
    std::wstring path = L"Z:";
    for (char c : std::string(QARN_SOURCE_DIR) + "/" + relative) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    return path;
}

// Sets (or with null removes) an environment variable of this process while the object lives.
class ScopedVariable {
public:
    ScopedVariable(const wchar_t* name, const wchar_t* value) : name_(name) {
        wchar_t buffer[32767];
        const DWORD n = GetEnvironmentVariableW(name, buffer, 32767);
        if (n > 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND) saved_ = std::wstring(buffer, n);
        SetEnvironmentVariableW(name, value);
    }
    ~ScopedVariable() { SetEnvironmentVariableW(name_.c_str(), saved_ ? saved_->c_str() : nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    std::wstring name_;
    std::optional<std::wstring> saved_;
};

// The value of the property or method without arguments `name` of an automation object.
inline Variant DispatchGet(IDispatch* object, const wchar_t* name) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    Variant result;
    DISPPARAMS none{};
    if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)) ||
        FAILED(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET | DISPATCH_METHOD, &none,
                              result.Out(), nullptr, nullptr)))
        result.Clear();
    return result;
}

// The names in a folder in alphabetical order, each followed by a blank.
inline std::wstring FolderEntries(const std::wstring& folder) {
    std::vector<std::wstring> names;
    ForEachEntry(folder, [&](const std::wstring& name, bool) { names.push_back(name); });
    std::sort(names.begin(), names.end());
    std::wstring joined;
    for (const std::wstring& name : names) joined += name + L" ";
    return joined;
}

// A fresh folder below the prefix's temporary folder, removed with its files at the end.
class ScratchFolder {
public:
    explicit ScratchFolder(const wchar_t* name) : path_(TempFolder(name)) {}
    ~ScratchFolder() { RemoveTree(path_); }
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

    // Writes raw bytes to a file of the folder and returns its full path.
    std::wstring Write(const std::wstring& name, const std::string& bytes) const {
        const std::wstring file = *this / name;
        WriteBytes(file, bytes);
        return file;
    }

    static std::string Read(const std::wstring& file) { return ReadBytes(file).value_or(""); }

private:
    std::wstring path_;
};

}  // namespace test
