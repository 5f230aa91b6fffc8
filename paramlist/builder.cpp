// Parameter-list builder: one `Parameter` element of a transaction definition becomes a
// ParameterList. Around the filling of its three collections run the optional pre and post event
// macros; a template transaction may supply the list instead, and the result may be merged into
// the parameter list the caller passed as context.
#include "paramlist/Engine.h"

#include "base/OwnAccess.h"

#include <algorithm>
#include <set>
#include <utility>

using namespace qarn;
using namespace qarn::paramlist;

namespace {

// Template transactions may use templates themselves, up to this depth.
constexpr size_t kMaxTemplateDepth = 8;

// A macro named by the attributes of a PreAction or PostAction element.
struct EventMacro {
    Bstr scriptEngine;
    Bstr methodName;
    bool Given() const { return !scriptEngine.IsEmpty() && !methodName.IsEmpty(); }
};

// "true" in any letter case, and nothing else.
bool IsTrue(const Bstr& text) { return EqualIgnoringCase(text.View(), L"true"); }

// A copy, made here, of a caller's list that lives in another apartment: from the snapshot that a
// list of our data-type server takes in one call (copied member by member through its proxy,
// every member would be a call into that apartment). Null when the list gives none (it is here
// already, or another server's, or it holds values that are no texts or numbers): the caller then
// asks the list for its copy as before.
ComPtr<IParameterList> LocalCopy(DataObjects& objects, IParameterList* input) {
    // Only a proxy is worth it; COM's proxies answer IMultiQI in this apartment, without a call
    // into theirs (a query for one of our own interfaces would be such a call each time).
    ComPtr<IMultiQI> proxy;
    if (FAILED(input->QueryInterface(IID_PPV_ARGS(&proxy)))) return nullptr;
    Variant snapshot;
    DISPPARAMS none{};
    EXCEPINFO excep{};
    const HRESULT hr = input->Invoke(kSnapshotDispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                     snapshot.Out(), &excep, nullptr);
    const HRESULT code = hr == DISP_E_EXCEPTION ? excep.scode : hr;
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrHelpFile);
    SetErrorInfo(0, nullptr);
    if (code == E_OUTOFMEMORY) ThrowHResult(code);
    SAFEARRAY* bytes = snapshot.vt == (VT_ARRAY | VT_UI1) ? snapshot.parray : nullptr;
    if (FAILED(hr) || !bytes || SafeArrayGetDim(bytes) != 1) return nullptr;
    // The values may be clear text: the bytes are zeroed before they are freed.
    struct Wipe {
        SAFEARRAY* array;
        ~Wipe() { SecureZeroMemory(array->pvData, array->rgsabound[0].cElements); }
    } wipe{bytes};
    ComPtr<IParameterList> copy = objects.New<IParameterList>(CLSID_ParameterList);
    ComPtr<IQarnOwnParameterList> own;
    if (FAILED(copy.As(&own))) return nullptr;
    CHECK_HR(own->ReadSnapshot(static_cast<const BYTE*>(bytes->pvData), bytes->rgsabound[0].cElements));
    return copy;
}

}  // namespace

ComPtr<IParameterList> Engine::BuildParameterList(IXMLDOMNode* node, IDispatch* context, Nodes nodes, Call call) {
    return Framed(L"CQarnUtilities::DOMCreateParameterListEntry", call, [&]() -> ComPtr<IParameterList> {
        if (!node) return {};
        ComPtr<IParameterList> list = objects_.New<IParameterList>(CLSID_ParameterList);

        // The event macros first: the pre event runs before anything is filled in.
        EventMacro pre, post;
        ForEachElement(node, [&](IXMLDOMNode* child, std::wstring_view name) {
            EventMacro* macro = name == L"PreAction" ? &pre : name == L"PostAction" ? &post : nullptr;
            if (!macro) return;
            const ComPtr<IFieldCollection> attributes = nodeFields_.AttributeFields(child);
            macro->scriptEngine.Reset();
            macro->methodName.Reset();
            if (!attributes) return;
            CHECK_HR(attributes->GetValue(Bstr(L"scriptEngine"), macro->scriptEngine.Out()));
            CHECK_HR(attributes->GetValue(Bstr(L"methodName"), macro->methodName.Out()));
        });
        if (pre.Given()) RunEventMacro(pre.scriptEngine, pre.methodName, list, L"HandlePreEvent");

        const ComPtr<IFieldCollection> attributes = nodeFields_.AttributeFields(node);
        if (attributes) CHECK_HR(list->put_Attributes(attributes.Get()));

        ForEachElement(node, [&](IXMLDOMNode* child, std::wstring_view name) {
            if (name == L"FieldCollection") {
                ComPtr<IFieldCollection> fields;
                CHECK_HR(list->get_FieldCollection(&fields));
                FillFields(child, context, nodes, fields.Get());
            } else if (name == L"StructureCollection") {
                ComPtr<IStructureCollection> structures;
                CHECK_HR(list->get_StructureCollection(&structures));
                FillStructures(child, context, nodes, structures.Get());
            } else if (name == L"TableCollection") {
                ComPtr<ITableCollection> tables;
                CHECK_HR(list->get_TableCollection(&tables));
                FillTables(child, context, nodes, tables.Get());
            }
        });

        // A template transaction, built with this list as its context.
        ComPtr<IParameterList> result;
        if (attributes) {
            Bstr templateName, templateFile;
            CHECK_HR(attributes->GetValue(Bstr(L"TemplateName"), templateName.Out()));
            CHECK_HR(attributes->GetValue(Bstr(L"TemplateFile"), templateFile.Out()));
            if (!templateName.IsEmpty() && !templateFile.IsEmpty())
                result = BuildTemplate(templateFile, templateName, list.Get());
        }

        if (post.Given()) RunEventMacro(post.scriptEngine, post.methodName, list, L"HandlePostEvent");
        if (!result) result = list;

        ComPtr<IParameterList> merged = CheckForMerge(context, result.Get());
        return merged ? merged : result;
    });
}

void Engine::RunEventMacro(BSTR scriptEngine, BSTR methodName, ComPtr<IParameterList>& list,
                                   const wchar_t* eventName) {
    ComPtr<IParameterList> output = objects_.New<IParameterList>(CLSID_ParameterList);
    // The macro may replace both lists; whatever it leaves is worked on.
    IParameterList* input = list.Detach();
    IParameterList* out = output.Detach();
    const HRESULT hr = host_.RunMacro(scriptEngine, methodName, &input, &out);
    Adopt(list, input);
    Adopt(output, out);
    CHECK_HR(hr);
    if (!list)
        THROW_MESSAGE(Format(L"The macro %s of %s left no parameter list to fill.", std::wstring(View(methodName)).c_str(),
                             std::wstring(View(scriptEngine)).c_str()));
    HandleTransactionEvent(list.Get(), output.Get(), eventName);
}

void Engine::HandleTransactionEvent(IParameterList* list, IParameterList* output, const wchar_t* eventName) {
    if (!list || !output || !eventName) return;
    ComPtr<IStructure> answer;
    CHECK_HR(output->GetStructure(Bstr(L"RETURN"), &answer));
    if (!answer) return;
    ComPtr<IFieldCollection> attributes = objects_.AttributesOf(list);
    Bstr text;
    CHECK_HR(answer->get_Text(text.Out()));
    CHECK_HR(attributes->SetValue(Bstr(eventName), Variant(text.View())));
}

ComPtr<IParameterList> Engine::BuildTemplate(BSTR templateFile, BSTR templateName, IParameterList* context) {
    // A template that leads back to a transaction being built would never end.
    const std::pair<std::wstring, std::wstring> request(View(templateFile), View(templateName));
    if (std::find(templatesInProgress_.begin(), templatesInProgress_.end(), request) != templatesInProgress_.end())
        THROW_MESSAGE(Format(L"The template %s in %s leads back to itself.", request.second.c_str(), request.first.c_str()));
    if (templatesInProgress_.size() >= kMaxTemplateDepth)
        THROW_MESSAGE(Format(L"Templates are nested deeper than %u levels at the template %s in %s.",
                             static_cast<unsigned>(kMaxTemplateDepth), request.second.c_str(), request.first.c_str()));
    templatesInProgress_.push_back(request);
    // Taken off again however the build ends.
    const struct Leave { decltype(templatesInProgress_)& building; ~Leave() { building.pop_back(); } } leave{templatesInProgress_};
    return Transaction(templateFile, templateName, context);
}

ComPtr<IParameterList> Engine::CheckForMerge(IDispatch* pDisp, IParameterList* built, Call call) {
    return Framed(L"CQarnUtilities::CheckForMerge", call, [&]() -> ComPtr<IParameterList> {
        if (!pDisp || !built) return {};
        ComPtr<IFieldCollection> attributes;
        CHECK_HR(built->get_Attributes(&attributes));
        if (!attributes) return {};
        const auto flag = [&](const wchar_t* name, bool absent) {
            ComPtr<IField> field;
            CHECK_HR(attributes->get_Field(Bstr(name), &field));
            if (!field) return absent;
            Bstr text;
            CHECK_HR(field->get_StringValue(text.Out()));
            return IsTrue(text);
        };
        if (!flag(L"mergeIntoInput", false)) return {};
        const VARIANT_BOOL allowReplace = flag(L"mergeOption_allowReplace", true) ? VARIANT_TRUE : VARIANT_FALSE;

        // The caller's input: a document's list, or a list itself.
        ComPtr<IParameterList> input;
        ComPtr<IQarnDocument> document;
        if (SUCCEEDED(pDisp->QueryInterface(IID_PPV_ARGS(&document))) && document)
            CHECK_HR(document->get_ParameterList(&input));
        if (!input && FAILED(pDisp->QueryInterface(IID_PPV_ARGS(&input)))) input.Reset();
        SetErrorInfo(0, nullptr);
        if (!input) return {};

        ComPtr<IParameterList> target = LocalCopy(objects_, input.Get());
        if (!target) CHECK_HR(input->Clone(&target));
        if (!target) return {};
        const auto merge = [&](IFieldCollection* from, IFieldCollection* to) { MergeByFlag(from, to, allowReplace); };
        // The attributes of two objects of one kind, created where missing.
        const auto mergeAttributes = [&](auto* from, auto* to) {
            merge(objects_.AttributesOf(from).Get(), objects_.AttributesOf(to).Get());
        };
        mergeAttributes(built, target.Get());

        ComPtr<IFieldCollection> fromFields, toFields;
        CHECK_HR(built->get_FieldCollection(&fromFields));
        CHECK_HR(target->get_FieldCollection(&toFields));
        merge(fromFields.Get(), toFields.Get());
        mergeAttributes(fromFields.Get(), toFields.Get());

        ComPtr<IStructureCollection> fromStructures, toStructures;
        CHECK_HR(built->get_StructureCollection(&fromStructures));
        CHECK_HR(target->get_StructureCollection(&toStructures));
        long count = 0;
        CHECK_HR(fromStructures->get_Count(&count));
        for (long i = 1; i <= count; ++i) {
            ComPtr<IStructure> structure, existing;
            CHECK_HR(fromStructures->get_Item(i, &structure));
            Bstr name;
            CHECK_HR(structure->get_Name(name.Out()));
            CHECK_HR(toStructures->get_Structure(name, &existing));
            if (!existing) {
                CHECK_HR(toStructures->Add(structure.Get()));
                continue;
            }
            ComPtr<IFieldCollection> from, to;
            CHECK_HR(structure->get_FieldCollection(&from));
            CHECK_HR(existing->get_FieldCollection(&to));
            merge(from.Get(), to.Get());
            mergeAttributes(from.Get(), to.Get());
        }
        mergeAttributes(fromStructures.Get(), toStructures.Get());

        ComPtr<ITableCollection> fromTables, toTables;
        CHECK_HR(built->get_TableCollection(&fromTables));
        CHECK_HR(target->get_TableCollection(&toTables));
        CHECK_HR(fromTables->get_Count(&count));
        for (long i = 1; i <= count; ++i) {
            ComPtr<ITable> table, existing;
            CHECK_HR(fromTables->get_Item(i, &table));
            Bstr name;
            CHECK_HR(table->get_Name(name.Out()));
            CHECK_HR(toTables->get_Table(name, &existing));
            if (!existing) {
                CHECK_HR(toTables->Add(table.Get()));
                continue;
            }
            // Rows are replaced as a whole, never merged.
            if (allowReplace == VARIANT_TRUE) {
                ComPtr<IFieldCollectionTable> rows;
                CHECK_HR(table->get_FieldCollectionTable(&rows));
                CHECK_HR(existing->put_FieldCollectionTable(rows.Get()));
            }
            mergeAttributes(table.Get(), existing.Get());
        }
        mergeAttributes(fromTables.Get(), toTables.Get());
        return target;
    });
}

void Engine::MergeByFlag(IFieldCollection* source, IFieldCollection* target, VARIANT_BOOL allowReplace, Call call) {
    Framed(L"CQarnUtilities::MergeByFlag", call, [&] {
        // Attribute collections nest (a field's attributes are fields with attributes of their
        // own): the pairs still to merge are kept in a list, and a pair met before is not merged
        // again, so collections that hold themselves cannot make the merge run forever.
        std::vector<std::pair<ComPtr<IFieldCollection>, ComPtr<IFieldCollection>>> pending;
        std::set<std::pair<IUnknown*, IUnknown*>> seen;
        const auto push = [&](IFieldCollection* from, IFieldCollection* to) {
            if (!from || !to) return;
            ComPtr<IUnknown> a, b;
            CHECK_HR(from->QueryInterface(IID_PPV_ARGS(&a)));
            CHECK_HR(to->QueryInterface(IID_PPV_ARGS(&b)));
            if (seen.emplace(a.Get(), b.Get()).second) pending.emplace_back(from, to);
        };
        push(source, target);
        while (!pending.empty()) {
            const auto [from, to] = std::move(pending.back());
            pending.pop_back();
            long count = 0;
            CHECK_HR(from->get_Count(&count));
            for (long i = 1; i <= count; ++i) {
                ComPtr<IField> field, existing;
                CHECK_HR(from->get_Item(i, &field));
                Bstr name;
                CHECK_HR(field->get_Name(name.Out()));
                CHECK_HR(to->get_Field(name, &existing));
                if (!existing) {
                    CHECK_HR(to->Add(field.Get()));
                    continue;
                }
                if (allowReplace == VARIANT_TRUE) {
                    Variant value;
                    CHECK_HR(field->get_Value(value.Out()));
                    CHECK_HR(existing->put_Value(value));
                }
                push(objects_.AttributesOf(field.Get()).Get(), objects_.AttributesOf(existing.Get()).Get());
            }
        }
    });
}
