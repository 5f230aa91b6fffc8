// QarnDocument XML files: members of CQarnUtilities. Two layouts: the document file (root
// `QarnDocuments`), written and read back, and the document description (root `QarnDocument`),
// only read. The writing is documents/DocumentWriter's, the reading documents/DocumentReader's.
#include "server/Utilities.h"
#include "FileContent.h"

#include "documents/DocumentReader.h"
#include "documents/DocumentWriter.h"
#include "dom/DomRead.h"

#include <string_view>

using namespace qarn;
using namespace qarn::dom;


STDMETHODIMP CQarnUtilities::WriteQarnDocumentToFile(IQarnDocument *pDocument, BSTR fileName) {
    return MethodFrame(L"CQarnUtilities::WriteQarnDocumentToFile", [&] {
        if (!pDocument) return;
        const secure::BasicSecretString<char> bytes = DocumentFileWriter().Write(pDocument);
        // The previous file is replaced only once the new one is complete.
        if (!fileName || SysStringLen(fileName) == 0 ||
            ReplaceFileContent(std::wstring(*Arg(fileName)), bytes) != ERROR_SUCCESS)
            THROW_STORE_MESSAGE(L"M0011", L"Error creating file %s.", Arg(fileName));
    });
}

STDMETHODIMP CQarnUtilities::ReadQarnDocumentFromFile(BSTR fileName, IQarnDocument **ppResult) {
    return MethodFrame(L"CQarnUtilities::ReadQarnDocumentFromFile", [&] {
        OutParam(ppResult);
        VARIANT_BOOL exists = VARIANT_FALSE;
        CHECK_HR(FileExist(fileName, &exists));
        ComPtr<IXMLDOMNode> root;
        if (const std::optional<std::string> bytes = LoadableBytes(fileName)) {
            ComPtr<IXMLDOMDocument2> dom = NewDocument();
            if (LoadBytes(dom.Get(), *bytes) != VARIANT_TRUE) {
                // The engine's reason may not tell that the file nests too deep: say so when it does.
                CheckReadableDepth(std::string_view(*bytes), L"The file " + std::wstring(View(fileName)));
                ComPtr<IXMLDOMParseError> error;
                Bstr reason;
                if (SUCCEEDED(dom->get_parseError(&error)) && error) CHECK_HR(error->get_reason(reason.Out()));
                if (reason.IsEmpty()) THROW_MESSAGE(L"Unknown parsing error for " + std::wstring(View(fileName)) + L".");
                THROW_MESSAGE(std::wstring(reason.View()));
            }
            root = SelectSingle(AsNode(dom.Get()).Get(), Bstr(L"/QarnDocuments"));
        } else {
            // What cannot be read here (a folder, no access) gets the DOM's own answer.
            Variant file(View(fileName));
            ComPtr<IDispatch> parsed;
            CHECK_HR(DOMParse(file, &parsed));
            root = SelectSingle(AsNode(parsed.Get()).Get(), Bstr(L"/QarnDocuments"));
        }
        ComPtr<IQarnDocumentCollection> documents = reader_.ReadQarnDocumentFromFileRecurse(root.Get());
        long count = 0;
        if (documents) CHECK_HR(documents->get_Count(&count));
        if (count != 1) THROW_MESSAGE(L"wrong number of QarnDocuments found in CQarnUtilities::ReadQarnDocumentFromFile");
        CHECK_HR(documents->get_Item(1, ppResult));
    });
}

STDMETHODIMP CQarnUtilities::GetXmlQarnDocumentFromFile(BSTR file, IDispatch *pDisp, IQarnDocument **ppRes) {
    return MethodFrame(L"CQarnUtilities::GetXmlQarnDocumentFromFile", [&] {
        OutParam(ppRes);
        VARIANT_BOOL exists = VARIANT_FALSE;
        CHECK_HR(FileExist(file, &exists));
        if (exists != VARIANT_TRUE) return;
        ComPtr<IXMLDOMDocument2> dom = NewDocument();
        VARIANT_BOOL loaded = VARIANT_FALSE;
        if (const std::optional<std::string> bytes = LoadableBytes(file)) {
            loaded = LoadBytes(dom.Get(), *bytes);
        } else {
            loaded = LoadByName(dom.Get(), file);
        }
        *ppRes = reader_.DescriptionDocument(dom.Get(), loaded, file, true, pDisp).Detach();
    });
}

STDMETHODIMP CQarnUtilities::GetXmlQarnDocumentFromString(BSTR xmlString, IDispatch *pDisp, IQarnDocument **ppRes) {
    return MethodFrame(L"CQarnUtilities::GetXmlQarnDocumentFromString", [&] {
        OutParam(ppRes);
        ComPtr<IXMLDOMDocument2> dom = NewDocument();
        const VARIANT_BOOL loaded = LoadText(dom.Get(), Bstr(Arg(xmlString).value_or(std::wstring_view())));
        *ppRes = reader_.DescriptionDocument(dom.Get(), loaded, xmlString, false, pDisp).Detach();
    });
}
