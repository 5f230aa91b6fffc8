// The mixed work of one host thread: transactions, encryption, documents, files, strings and the
// number generator, each operation reduced to a text that must be the same in every thread and
// in every run. Used by the host-safety stress program and by the threading benchmark. A failed
// call throws Failure (Hardening.h).
#pragma once

#include "../Hardening.h"
#include "QarnComConnector.h"

namespace mixedwork {

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
          utilities_(Create<IQarnUtilities>(CLSID_CQarnUtilities)),
          generator_(Create<IQarnNumberGenerator>(CLSID_CQarnNumberGenerator)) {
        CreateDirectoryW(folder_.c_str(), nullptr);
        if (ownConfiguration) Check(utilities_->ReadXmlConfigurationFiles(), L"ReadXmlConfigurationFiles");
    }

    // Operation `kind` (0 .. kKinds-1) with the variation `n`; the answer as text.
    std::wstring Run(int kind, int n) {
        return kind < 2 ? Transaction(kKindNames[kind], n) : kind == 2 ? Encryption(n) : kind == 3 ? Document(n)
               : kind == 4 ? TextFile(n) : kind == 5 ? Strings(n) : Numbers(n);
    }

    // The part a CAD add-in sends: number 100-<4700 + n>, title and mass.
    static ComPtr<IParameterList> Part(int n) {
        auto part = Create<IParameterList>(CLSID_ParameterList);
        ComPtr<IFieldCollection> fields;
        Check(part->get_FieldCollection(&fields), L"FieldCollection");
        for (const auto& [name, value] : {std::pair<const wchar_t*, std::wstring>{L"PartNumber", L"100-" + std::to_wstring(4700 + n)},
                                          {L"Title", L"Drive shaft D40x320"}, {L"Mass", L"3.92"}})
            Check(fields->SetValue(Str(name), Var(Text(value))), L"SetValue");
        return part;
    }

private:
    static std::wstring TextOf(const Str& s) { return std::wstring(s.View()); }

    static std::wstring XmlOf(IParameterList* list) {
        Str xml;
        Check(list->get_Xml(xml.Out()), L"ParameterList.Xml");
        return TextOf(xml);
    }

    // "name=value;" for each field.
    static std::wstring FieldsText(IFieldCollection* fields) {
        long count = 0;
        Check(fields->get_Count(&count), L"Count");
        std::wstring text;
        for (long i = 1; i <= count; ++i) {
            ComPtr<IField> field;
            Str name, value;
            Check(fields->get_Item(i, &field), L"Item");
            Check(field->get_Name(name.Out()), L"Name");
            Check(field->get_StringValue(value.Out()), L"StringValue");
            text += TextOf(name) + L"=" + TextOf(value) + L";";
        }
        return text;
    }

    std::wstring Transaction(const wchar_t* alias, int n) {
        ComPtr<IParameterList> list;
        Check(utilities_->GetXmlParameterList(Str(L"Parts.xml"), Str(alias), Part(n).Get(), &list), L"GetXmlParameterList");
        return XmlOf(list.Get());
    }

    std::wstring Encryption(int n) {
        ComPtr<IField> sealed, opened;
        Str cipher, back;
        Check(utilities_->Encrypt(Str(L"password"), Str(L"Kiel-Cad-" + std::to_wstring(n)), &sealed), L"Encrypt");
        Check(sealed->get_StringValue(cipher.Out()), L"StringValue");
        Check(utilities_->Decrypt2(sealed.Get(), &opened), L"Decrypt2");
        Check(opened->get_StringValue(back.Out()), L"StringValue");
        // The encoding varies from call to call; its length and the way back do not.
        return std::to_wstring(cipher.View().size()) + L"|" + TextOf(back);
    }

    std::wstring Document(int n) {
        auto document = Create<IQarnDocument>(CLSID_QarnDocument);
        auto children = Create<IQarnDocumentCollection>(CLSID_QarnDocumentCollection);
        Check(document->put_ParameterList(Part(n).Get()), L"ParameterList");
        for (int i = 1; i <= 3; ++i) {
            auto child = Create<IQarnDocument>(CLSID_QarnDocument);
            Check(child->put_ParameterList(Part(n + i).Get()), L"ParameterList");
            Check(children->Add(child.Get()), L"Add");
        }
        Check(document->put_Children(children.Get()), L"Children");
        const Str file(folder_ + L"\\document.xml");
        ComPtr<IQarnDocument> back;
        ComPtr<IParameterList> backList;
        ComPtr<IQarnDocumentCollection> backChildren;
        long count = 0;
        Check(utilities_->WriteQarnDocumentToFile(document.Get(), file), L"WriteQarnDocumentToFile");
        Check(utilities_->ReadQarnDocumentFromFile(file, &back), L"ReadQarnDocumentFromFile");
        Check(back->get_ParameterList(&backList), L"ParameterList");
        Check(back->get_Children(&backChildren), L"Children");
        if (backChildren) Check(backChildren->get_Count(&count), L"Count");
        return XmlOf(backList.Get()) + L"|children " + std::to_wstring(count);
    }

    std::wstring TextFile(int n) {
        const std::wstring file = folder_ + L"\\lines.txt";
        DeleteFileW(file.c_str());
        std::wstring text;
        for (int i = 0; i < 20; ++i) text += L"line " + std::to_wstring(i) + L" of " + std::to_wstring(n) + L"\n";
        ComPtr<IFieldCollection> lines;
        Check(utilities_->FileWrite(Str(file), Str(text)), L"FileWrite");
        Check(utilities_->ReadTextFile(Str(file), &lines), L"ReadTextFile");
        return FieldsText(lines.Get());
    }

    std::wstring Strings(int n) {
        Str trimmed, formatted, extension;
        const std::wstring number = std::to_wstring(n);
        Check(utilities_->TrimLeftAndRight(Str(L"xx" + number + L"-Kiel xx"), Str(L"x "), trimmed.Out()), L"TrimLeftAndRight");
        Check(utilities_->sprintf1(Str(L"[%-8s]"), Str(number), formatted.Out()), L"sprintf1");
        Check(utilities_->GetExtension(Str(L"C:\\parts\\" + number + L".model.prt"), extension.Out()), L"GetExtension");
        return TextOf(trimmed) + L"|" + TextOf(formatted) + L"|" + TextOf(extension);
    }

    std::wstring Numbers(int n) {
        ComPtr<IFieldCollection> numbers;
        Check(generator_->Get1(Str(L"DOC-"), n, n + 4, &numbers), L"Get1");
        return FieldsText(numbers.Get());
    }

    std::wstring folder_;
    ComPtr<IQarnUtilities> utilities_;
    ComPtr<IQarnNumberGenerator> generator_;
};

}  // namespace mixedwork
