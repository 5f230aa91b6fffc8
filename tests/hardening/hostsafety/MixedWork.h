// The mixed work of one host thread: transactions, encryption, documents, files, strings and the
// number generator, each operation reduced to a text that must be the same in every thread and
// in every run. Used by the host-safety stress program and by the threading benchmark.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "QarnComConnector.h"
#include "QarnComDatatypes.h"
#include "server/com/Text.h"

namespace mixedwork {

using Microsoft::WRL::ComPtr;
using Str = qarn::Bstr;

// A failed call of the work: the operation and the HRESULT.
struct CallFailed {
    std::wstring what;
    HRESULT hr;
};

inline void Call(HRESULT hr, const wchar_t* what) {
    if (FAILED(hr)) throw CallFailed{what, hr};
}

template <class I>
ComPtr<I> Make(REFCLSID clsid) {
    ComPtr<I> object;
    Call(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, __uuidof(I), reinterpret_cast<void**>(object.GetAddressOf())),
         L"CoCreateInstance");
    return object;
}

inline VARIANT TextVariant(const wchar_t* text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(text);
    return v;
}

inline std::wstring Text(const Str& s) { return std::wstring(s.View()); }

// The objects one thread works with, all of its own apartment; `folder` is a folder of its own.
class Worker {
public:
    static constexpr int kKinds = 7;
    static constexpr const wchar_t* kKindNames[kKinds] = {L"CreatePart", L"ChangePart", L"encryption", L"document",
                                                          L"text file", L"strings", L"numbers"};

    // With `ownConfiguration` the thread's utilities object reads the installation's
    // configuration itself; otherwise it looks properties and messages up in the process's
    // application (in another apartment, one call there per lookup).
    explicit Worker(std::wstring folder, bool ownConfiguration = false)
        : folder_(std::move(folder)),
          utilities_(Make<IQarnUtilities>(CLSID_CQarnUtilities)),
          generator_(Make<IQarnNumberGenerator>(CLSID_CQarnNumberGenerator)) {
        CreateDirectoryW(folder_.c_str(), nullptr);
        if (ownConfiguration) Call(utilities_->ReadXmlConfigurationFiles(), L"ReadXmlConfigurationFiles");
    }

    // Operation `kind` (0 .. kKinds-1) with the variation `n`; the answer as text.
    std::wstring Run(int kind, int n) {
        switch (kind) {
            case 0: return Transaction(L"CreatePart", n);
            case 1: return Transaction(L"ChangePart", n);
            case 2: return Encryption(n);
            case 3: return Document(n);
            case 4: return TextFile(n);
            case 5: return Strings(n);
            default: return Numbers(n);
        }
    }

private:
    ComPtr<IParameterList> Part(int n) {
        auto part = Make<IParameterList>(CLSID_ParameterList);
        ComPtr<IFieldCollection> fields;
        Call(part->get_FieldCollection(&fields), L"FieldCollection");
        const std::wstring number = L"100-" + std::to_wstring(4700 + n);
        VARIANT v = TextVariant(number.c_str());
        Call(fields->SetValue(Str(L"PartNumber"), v), L"SetValue");
        VariantClear(&v);
        v = TextVariant(L"Drive shaft D40x320");
        Call(fields->SetValue(Str(L"Title"), v), L"SetValue");
        VariantClear(&v);
        v = TextVariant(L"3.92");
        Call(fields->SetValue(Str(L"Mass"), v), L"SetValue");
        VariantClear(&v);
        return part;
    }

    std::wstring Transaction(const wchar_t* alias, int n) {
        ComPtr<IParameterList> list;
        Call(utilities_->GetXmlParameterList(Str(L"Parts.xml"), Str(alias), Part(n).Get(), &list),
             L"GetXmlParameterList");
        Str xml;
        Call(list->get_Xml(xml.Out()), L"ParameterList.Xml");
        return Text(xml);
    }

    std::wstring Encryption(int n) {
        const std::wstring clear = L"Kiel-Cad-" + std::to_wstring(n);
        ComPtr<IField> sealed, opened;
        Call(utilities_->Encrypt(Str(L"password"), Str(clear.c_str()), &sealed), L"Encrypt");
        Str cipher;
        Call(sealed->get_StringValue(cipher.Out()), L"StringValue");
        Call(utilities_->Decrypt2(sealed.Get(), &opened), L"Decrypt2");
        Str back;
        Call(opened->get_StringValue(back.Out()), L"StringValue");
        // The encoding varies from call to call; its length and the way back do not.
        return std::to_wstring(cipher.View().size()) + L"|" + Text(back);
    }

    std::wstring Document(int n) {
        auto document = Make<IQarnDocument>(CLSID_QarnDocument);
        auto list = Part(n);
        Call(document->put_ParameterList(list.Get()), L"ParameterList");
        auto children = Make<IQarnDocumentCollection>(CLSID_QarnDocumentCollection);
        for (int i = 0; i < 3; ++i) {
            auto child = Make<IQarnDocument>(CLSID_QarnDocument);
            Call(child->put_ParameterList(Part(n + i + 1).Get()), L"ParameterList");
            Call(children->Add(child.Get()), L"Add");
        }
        Call(document->put_Children(children.Get()), L"Children");
        const std::wstring file = folder_ + L"\\document.xml";
        Call(utilities_->WriteQarnDocumentToFile(document.Get(), Str(file.c_str())), L"WriteQarnDocumentToFile");
        ComPtr<IQarnDocument> back;
        Call(utilities_->ReadQarnDocumentFromFile(Str(file.c_str()), &back), L"ReadQarnDocumentFromFile");
        ComPtr<IParameterList> backList;
        Call(back->get_ParameterList(&backList), L"ParameterList");
        ComPtr<IQarnDocumentCollection> backChildren;
        Call(back->get_Children(&backChildren), L"Children");
        long count = 0;
        if (backChildren) Call(backChildren->get_Count(&count), L"Count");
        Str xml;
        Call(backList->get_Xml(xml.Out()), L"Xml");
        return Text(xml) + L"|children " + std::to_wstring(count);
    }

    std::wstring TextFile(int n) {
        const std::wstring file = folder_ + L"\\lines.txt";
        DeleteFileW(file.c_str());
        std::wstring text;
        for (int i = 0; i < 20; ++i) text += L"line " + std::to_wstring(i) + L" of " + std::to_wstring(n) + L"\n";
        Call(utilities_->FileWrite(Str(file.c_str()), Str(text.c_str())), L"FileWrite");
        ComPtr<IFieldCollection> lines;
        Call(utilities_->ReadTextFile(Str(file.c_str()), &lines), L"ReadTextFile");
        long count = 0;
        Call(lines->get_Count(&count), L"Count");
        std::wstring answer = std::to_wstring(count);
        for (long i = 1; i <= count; i += 7) {
            ComPtr<IField> line;
            Call(lines->get_Item(i, &line), L"Item");
            Str value;
            Call(line->get_StringValue(value.Out()), L"StringValue");
            answer += L"|" + Text(value);
        }
        return answer;
    }

    std::wstring Strings(int n) {
        Str trimmed, formatted, extension;
        const std::wstring padded = L"xx" + std::to_wstring(n) + L"-Kiel xx";
        Call(utilities_->TrimLeftAndRight(Str(padded.c_str()), Str(L"x "), trimmed.Out()), L"TrimLeftAndRight");
        Call(utilities_->sprintf1(Str(L"[%-8s]"), Str(std::to_wstring(n).c_str()), formatted.Out()), L"sprintf1");
        Call(utilities_->GetExtension(Str((L"C:\\parts\\" + std::to_wstring(n) + L".model.prt").c_str()),
                                      extension.Out()),
             L"GetExtension");
        return Text(trimmed) + L"|" + Text(formatted) + L"|" + Text(extension);
    }

    std::wstring Numbers(int n) {
        ComPtr<IFieldCollection> numbers;
        Call(generator_->Get1(Str(L"DOC-"), n, n + 4, &numbers), L"Get1");
        long count = 0;
        Call(numbers->get_Count(&count), L"Count");
        std::wstring answer;
        for (long i = 1; i <= count; ++i) {
            ComPtr<IField> field;
            Call(numbers->get_Item(i, &field), L"Item");
            Str name, value;
            Call(field->get_Name(name.Out()), L"Name");
            Call(field->get_StringValue(value.Out()), L"StringValue");
            answer += Text(name) + L"=" + Text(value) + L";";
        }
        return answer;
    }

    std::wstring folder_;
    ComPtr<IQarnUtilities> utilities_;
    ComPtr<IQarnNumberGenerator> generator_;
};

}  // namespace mixedwork
