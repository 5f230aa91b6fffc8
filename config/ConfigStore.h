// The configuration store: the properties, messages and JNI options read from the installation's
// XML files, and the lookups of a text by name in them. The process's application object and every
// utilities object hold one each; a store is used from its owner's apartment only.
#pragma once

#include "base/DataObjects.h"
#include "base/CallerText.h"

#include <string>
#include <string_view>
#include <vector>

// Raises the store's message `id` (or the English default) filled with the method's arguments.
#define THROW_STORE_MESSAGE(id, fallback, ...) ThrowStoreMessage((id), (fallback), {__VA_ARGS__}, __LINE__)
// The same as the method's own report with one "at" line (see THROW_REPORT).
#define THROW_STORE_REPORT(id, fallback, ...) ThrowStoreMessage((id), (fallback), {__VA_ARGS__}, __LINE__, true)

namespace qarn::config {

class ConfigStore {
public:
    enum Kind { kProperties, kMessages, kJniOptions, kKinds };

    // The collection as it was read or put; null until then.
    ComPtr<IFieldCollection> Get(Kind kind) const { return collections_[kind]; }
    void Put(Kind kind, IFieldCollection* collection) { collections_[kind] = collection; }
    bool Has(Kind kind) const { return collections_[kind] != nullptr; }
    // Forgets all three collections.
    void Clear();

    // The text of the field `name` of the collection; null when there is no such collection or field.
    Bstr Text(Kind kind, BSTR name) const;
    // Adds the property `name` with a text value (a null value stays null); without properties
    // nothing happens.
    void SetProperty(BSTR name, BSTR value, DataObjects& objects);
    // The properties whose name equals `name` when letter case is ignored; null when none does
    // (and for a null name or without properties).
    ComPtr<IFieldCollection> PropertiesByName(BSTR name, DataObjects& objects) const;

private:
    ComPtr<IFieldCollection> collections_[kKinds];
};

// The failure reports of an object built on the message store: its texts are looked up by id and
// filled with the failing method's arguments.
class StoreMessages {
public:
    // The store's text for a message id, or `fallback` when the store gives none or an empty one.
    std::wstring MessageText(const wchar_t* id, std::wstring_view fallback);
    [[noreturn]] void ThrowStoreMessage(const wchar_t* id, std::wstring_view fallback,
                                        const std::vector<text::TextArg>& args, int line, bool complete = false);

protected:
    ~StoreMessages() = default;
    // The message `id` as the owner's GetMessage answers it.
    virtual HRESULT LookupMessage(BSTR id, BSTR* text) = 0;
};

}  // namespace qarn::config
