// Field evaluation: one `Field` element of a transaction definition becomes a Field object. Its
// value comes from the element, the property or message store, the element's attributes, the
// caller's context object or a field of the caller's parameter list; it may pass through a named
// function, has %NAME% references expanded and is decrypted when the element is marked.
#include "paramlist/Engine.h"
#include "paramlist/OutsideTransforms.h"
#include "base/WipedBstr.h"

using namespace qarn;
using namespace qarn::paramlist;

namespace qarn::paramlist {

ComPtr<IParameterList> ContextList(IDispatch* context, const SourceSelection& selection) {
    const bool document = selection.Is(L"QarnDocument");
    if (document) {
        ComPtr<IQarnDocument> source;
        if (FAILED(context->QueryInterface(IID_PPV_ARGS(&source))) || !source)
            THROW_REPORT(Format(L"QueryInterface to IQarnDocument failed, Type conflict in xml node: %s",
                                 std::wstring(selection.attribute.View()).c_str()));
        ComPtr<IParameterList> list;
        CHECK_HR(source->get_ParameterList(&list));
        return list;
    }
    ComPtr<IParameterList> list;
    if (FAILED(context->QueryInterface(IID_PPV_ARGS(&list))) || !list)
        THROW_REPORT(Format(L"QueryInterface to IParameterList failed, Type conflict in xml node: %s",
                             std::wstring(selection.attribute.View()).c_str()));
    return list;
}

}  // namespace qarn::paramlist

namespace {

// The field of `list` that the selection names, or null when there is none.
ComPtr<IField> SourceField(IParameterList* list, const SourceSelection& s) {
    ComPtr<IField> field;
    const std::wstring_view subtype = s.subtype.View();
    if (subtype == L"FieldCollection") {
        CHECK_HR(list->GetField(s.attribute, &field));
    } else if (subtype == L"StructureCollection") {
        CHECK_HR(list->GetStructureField(s.attribute, s.structure, &field));
    } else if (subtype == L"TableCollection") {
        if (s.row < 1)
            CHECK_HR(list->FindTableField(s.attribute, s.table, s.searchName, s.searchValue, &field));
        else
            CHECK_HR(list->GetTableField(s.attribute, s.table, s.row, &field));
    }
    return field;
}

// The text a field function receives: texts as they are, floating-point numbers and dates
// converted; no text for any other kind of value.
Bstr FunctionInput(const VARIANT& value) {
    Bstr text;
    switch (value.vt) {
        case VT_BSTR:
            return Bstr(View(value.bstrVal));
        case VT_R4:
        case VT_R8: {
            Variant converted;
            if (SUCCEEDED(VariantChangeType(converted.Out(), const_cast<VARIANT*>(&value), 0, VT_BSTR)) && converted.vt == VT_BSTR)
                text = Bstr(View(converted.bstrVal));
            return text;
        }
        case VT_DATE:
            if (FAILED(VarBstrFromDate(value.date, LOCALE_USER_DEFAULT, 0, text.Out()))) text.Reset();
            return text;
        default:
            return text;
    }
}


}  // namespace

Bstr Engine::PropertyNamedBy(IXMLDOMNode* element, Nodes nodes) {
    Bstr value;
    CHECK_HR(host_.LookupProperty(ReadText(element, nodes), value.Out()));
    return value;
}

ComPtr<IField> Engine::BuildField(IXMLDOMNode* node, IDispatch* pDisp, Nodes nodes, Call call) {
    return Framed(L"CQarnUtilities::DOMCreateFieldEntry", call, [&]() -> ComPtr<IField> {
        if (!node) return {};
        ComPtr<IField> field = objects_.New<IField>(CLSID_Field);
        const ComPtr<IFieldCollection> attributes = nodeFields_.AttributeFields(node);
        if (attributes) CHECK_HR(field->put_Attributes(attributes.Get()));

        // Every value set goes through here; only a text with a percent sign can hold references.
        bool mayHoldReferences = false;
        const auto put = [&](const VARIANT& value) {
            CHECK_HR(field->put_Value(value));
            mayHoldReferences = value.vt == VT_BSTR && View(value.bstrVal).find(L'%') != std::wstring_view::npos;
        };
        const auto putText = [&](BSTR text) { put(Variant(View(text))); };

        Variant working;
        const auto workWithText = [&](Bstr text) {
            working.Clear();
            working.vt = VT_BSTR;
            working.bstrVal = text.Detach();
        };
        SourceSelection source;
        Bstr function;
        ForEachElement(node, [&](IXMLDOMNode* child, std::wstring_view name) {
            if (name == L"Name") {
                CHECK_HR(field->put_Name(ReadText(child, nodes)));
            } else if (name == L"NameFromProperty") {
                if (const Bstr value = PropertyNamedBy(child, nodes); !value.IsNull()) CHECK_HR(field->put_Name(value));
            } else if (name == L"Value") {
                working = ReadValue(child, nodes);
            } else if (name == L"ValueFromProperty") {
                workWithText(PropertyNamedBy(child, nodes));
            } else if (name == L"ValueFromNodeAttributes") {
                ComPtr<IField> attribute;
                if (attributes) CHECK_HR(attributes->get_Field(ReadText(child, nodes), &attribute));
                if (attribute) {
                    Bstr text;
                    CHECK_HR(attribute->get_StringValue(text.Out()));
                    workWithText(std::move(text));
                }
            } else if (name == L"Function") {
                function = ReadText(child, nodes);
            } else {
                source.Read(name, child, TextReader(nodes));
            }
        });

        // The value by type.
        if (!source.typeGiven) {
            put(working);
        } else if (source.Is(L"QarnDispatch")) {
            if (pDisp) put(Variant(pDisp));
        } else if (source.Is(L"QarnProperty")) {
            Bstr value;
            CHECK_HR(host_.LookupProperty(source.attribute, value.Out()));
            if (!value.IsNull()) putText(value);
        } else if (source.Is(L"QarnMessage")) {
            Bstr value;
            CHECK_HR(host_.LookupMessage(source.attribute, value.Out()));
            if (!value.IsNull()) putText(value);
        } else if ((source.Is(L"ParameterList") || source.Is(L"QarnDocument")) && pDisp) {
            // The source field's value becomes the working value, which a function then gets.
            if (ComPtr<IParameterList> list = ContextList(pDisp, source)) {
                if (ComPtr<IField> found = SourceField(list.Get(), source)) {
                    working.Clear();
                    CHECK_HR(found->get_Value(working.Out()));
                }
            }
            if (working.vt == VT_EMPTY) working = Variant(std::wstring_view());
            put(working);
        }

        // The function gets the working value, not what the stores or the context object gave.
        if (!function.IsEmpty()) {
            ComPtr<IFieldFunction> functions;
            InputRecord::NoteOutside();
            CHECK_HR(CoCreateInstance(kFieldFunction, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&functions)));
            const Bstr input = FunctionInput(working);
            Bstr result;
            // Its result code is not examined: the text it returns is the value.
            functions->Evaluate(input, function, result.Out());
            SetErrorInfo(0, nullptr);
            putText(result);
        }

        // %NAME% references in a text value.
        if (mayHoldReferences) {
            Variant value;
            CHECK_HR(field->get_Value(value.Out()));
            if (value.vt == VT_BSTR) {
                Bstr resolved = dom::ResolveEnvironmentVariables(value.bstrVal);
                if (!resolved.IsNull()) putText(resolved);
            }
        }

        // A value marked as encrypted; one that does not decrypt stays as it is.
        if (attributes) {
            Bstr marker;
            CHECK_HR(attributes->GetValue(Bstr(L"x3nc"), marker.Out()));
            if (marker.View() == L"true") {
                // What Decrypt2 does with the field, without a second field that would keep a copy
                // of the clear text; the clear text is zeroed once the field has its own copy.
                Bstr name;
                secure::WipedBstr stored, plain;
                CHECK_HR(field->get_Name(name.Out()));
                CHECK_HR(field->get_StringValue(stored.Out()));
                if (SUCCEEDED(host_.DecryptValue(name, stored, plain.Out())) && !plain.IsNull()) {
                    VARIANT decrypted;
                    decrypted.vt = VT_BSTR;
                    decrypted.bstrVal = plain;  // borrowed: put_Value copies it
                    field->put_Value(decrypted);
                }
                SetErrorInfo(0, nullptr);
            }
        }
        return field;
    });
}
