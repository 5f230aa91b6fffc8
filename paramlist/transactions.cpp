// Transaction lookup and entry points: a client names a transaction (an alias in a definition file
// below the installation root, in a customer override file, in an XML text or in a parsed
// document); its `Parameter` element is built into a ParameterList whose attributes then tell where
// the list came from.
#include "paramlist/Engine.h"
#include "paramlist/OutsideTransforms.h"

using namespace qarn;
using namespace qarn::paramlist;

namespace {

// Paths are formatted into buffers of this many UTF-16 units; longer ones are cut.
constexpr size_t kPathCapacity = 2048;

std::wstring Text(BSTR s) { return std::wstring(View(s)); }

}  // namespace

HRESULT Engine::DetermineNodeNameForAliasName(BSTR aliasname, BSTR* path) {
    return MethodFrame(L"CQarnUtilities::DetermineNodeNameForAliasName", [&] {
        OutParam(path);
        // The alias goes into the expression as it is written: an apostrophe makes it invalid.
        if (aliasname && SysStringLen(aliasname) > 0)
            *path = CopyBstr(std::wstring_view(FormatCapped(SysStringLen(aliasname) + kPathCapacity,
                                                            L"Qarn/Transaction[Aliasname='%s']/Import/Parameter",
                                                            Text(aliasname).c_str())));
        else
            *path = CopyBstr(L"Parameter");
    });
}

HRESULT Engine::GetParameterList(IDispatch* document, BSTR path, IDispatch* pDisp, BSTR source,
                                 IParameterList** result) {
    return MethodFrame(L"CQarnUtilities::GetParameterList", [&] {
        OutParam(result);
        const ComPtr<IXMLDOMDocument2> dom = dom::AsDom<IXMLDOMDocument2>(document, L"an XML document");
        ComPtr<IXMLDOMNode> node;
        if (path && SysStringLen(path) > 0) node = dom::SelectSingle(dom.Get(), path);
        if (!node) THROW_STORE_REPORT(L"M0013", L"Node %s not found in %s.", Arg(path), Arg(source));
        // The document was parsed for this call and stays here.
        ParsedHere parsed(*this);
        CHECK_HR(DOMCreateParameterListEntry(node.Get(), pDisp, result));
    });
}

HRESULT Engine::SetContext(IParameterList* list, BSTR source, BSTR transaction, bool isCustomerFile,
                                   BSTR customerWarning) {
    return MethodFrame(L"CQarnUtilities::SetContext", [&] {
        if (!list) return;
        const ComPtr<IFieldCollection> attributes = objects_.AttributesOf(list);
        const auto set = [&](const wchar_t* name, std::wstring_view value) {
            CHECK_HR(attributes->SetValue(Bstr(name), Variant(value)));
        };
        if (source) set(L"source", View(source));
        if (transaction) set(L"transaction", View(transaction));
        if (isCustomerFile) set(L"isCustomerFile", L"true");
        if (customerWarning && SysStringLen(customerWarning) > 0) set(L"customerWarning", View(customerWarning));
    });
}

HRESULT Engine::GetXmlParameterList(BSTR xmlFile, BSTR aliasname, IDispatch *pDisp, IParameterList **pResult) {
    return MethodFrame(L"CQarnUtilities::GetXmlParameterList", [&] {
        OutParam(pResult);
        Bstr root;
        CHECK_HR(host_.EnvironmentValue(Bstr(L"QarnRootDir"), root.Out()));
        const std::wstring file = Text(xmlFile);
        // The names count up to a NUL character; the paths are cut to kPathCapacity.
        const text::TransactionFilePaths paths =
            text::TransactionFiles(text::UpToNul(root, root.Length()), text::UpToNul(xmlFile, SysStringLen(xmlFile)));
        const auto cut = [](const std::wstring& path) { return Bstr(std::wstring_view(path).substr(0, kPathCapacity - 1)); };
        const Bstr regularPath = cut(paths.regular), customerPath = cut(paths.customer), xslFolder = cut(paths.xslFolder);

        ComPtr<IParameterList> list;
        Bstr source;
        bool fromCustomerFile = false;
        std::wstring customerError;

        // An XSLT processor may supply the definition; the files are then not read.
        Bstr useXslt;
        CHECK_HR(host_.LookupProperty(Bstr(L"XSLTProcessor"), useXslt.Out()));
        if (useXslt.View() == L"true") {
            if (!xslt_) {
                CHECK_HR(CoCreateInstance(kXsltProcessor, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&xslt_)));
            }
            Bstr stylesheet;
            CHECK_HR(xslt_->GetStylesheet(xslFolder, xmlFile, aliasname, stylesheet.Out()));
            if (!stylesheet.IsEmpty()) {
                source = Bstr(std::wstring_view(FormatCapped(kPathCapacity, L"%s\\%s", Text(xslFolder).c_str(), file.c_str())));
                Variant context(pDisp);
                Variant missing;
                missing.vt = VT_ERROR;
                missing.scode = DISP_E_PARAMNOTFOUND;
                Bstr xml;
                CHECK_HR(xslt_->Transform(stylesheet, context, missing, xml.Out()));
                if (!xml.IsEmpty()) CHECK_HR(GetXmlParameterListFromXMLString3(xml, Bstr(L"Parameter"), nullptr, &list));
                CHECK_HR(SetContext(list.Get(), source, aliasname, false, nullptr));
                *pResult = list.Detach();
                return;
            }
        }

        // The customer's override file comes first; its failure only becomes a warning.
        VARIANT_BOOL customerExists = VARIANT_FALSE;
        CHECK_HR(host_.FileExists(customerPath, &customerExists, false));
        if (customerExists == VARIANT_TRUE) {
            try {
                CHECK_HR(GetXmlParameterList2(customerPath, aliasname, pDisp, &list));
                source = customerPath;
                fromCustomerFile = true;
            } catch (const ComError& e) {
                list.Reset();
                customerError = L"Error in " + Text(customerPath) + L": " + Text(e.Description());
            } catch (...) {
                list.Reset();
                customerError = L"Error in " + Text(customerPath) + L": Unknown error";
            }
            SetErrorInfo(0, nullptr);
        }

        if (!list) {
            std::wstring error;
            try {
                CHECK_HR(GetXmlParameterList2(regularPath, aliasname, pDisp, &list));
                source = regularPath;
            } catch (const ComError& e) {
                error = L"Error in " + Text(regularPath) + L": " + Text(e.Description());
            } catch (...) {
                error = L"Error in " + Text(regularPath) + L": Unknown error";
            }
            if (!error.empty()) {
                if (!customerError.empty()) error += L"\n\ncustomer error:\n" + customerError;
                THROW_REPORT(error);
            }
        }

        const Bstr warning{std::wstring_view(customerError)};
        CHECK_HR(SetContext(list.Get(), source, aliasname, fromCustomerFile, warning));
        *pResult = list.Detach();
    });
}

HRESULT Engine::GetXmlParameterList2(BSTR xmlFile, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) {
    return MethodFrame(L"CQarnUtilities::GetXmlParameterList2", [&] {
        OutParam(ppResult);
        Bstr path;
        CHECK_HR(DetermineNodeNameForAliasName(aliasname, path.Out()));
        CHECK_HR(GetXmlParameterList3(xmlFile, path, pDisp, ppResult));
    });
}

HRESULT Engine::GetXmlParameterList3(BSTR xmlFile, BSTR nodeName, IDispatch *pDisp, IParameterList **ppResult) {
    return MethodFrame(L"CQarnUtilities::GetXmlParameterList3", [&] {
        OutParam(ppResult);
        Variant file;
        file.vt = VT_BSTR;
        file.bstrVal = CopyBstr(View(xmlFile));
        ComPtr<IDispatch> document;
        CHECK_HR(host_.ParseFile(file, &document));
        CHECK_HR(GetParameterList(document.Get(), nodeName, pDisp, xmlFile, ppResult));
    });
}

HRESULT Engine::GetXmlParameterListFromXMLString(BSTR xmlString, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) {
    return MethodFrame(L"CQarnUtilities::GetXmlParameterListFromXMLString", [&] {
        CHECK_HR(GetXmlParameterListFromXMLString2(xmlString, aliasname, pDisp, ppResult));
    });
}

HRESULT Engine::GetXmlParameterListFromXMLString2(BSTR xmlString, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) {
    return MethodFrame(L"CQarnUtilities::GetXmlParameterListFromXMLString2", [&] {
        OutParam(ppResult);
        Bstr path;
        CHECK_HR(DetermineNodeNameForAliasName(aliasname, path.Out()));
        CHECK_HR(GetXmlParameterListFromXMLString3(xmlString, path, pDisp, ppResult));
    });
}

HRESULT Engine::GetXmlParameterListFromXMLString3(BSTR xmlString, BSTR nodeName, IDispatch *pDisp, IParameterList **ppResult) {
    return MethodFrame(L"CQarnUtilities::GetXmlParameterListFromXMLString3", [&] {
        OutParam(ppResult);
        ComPtr<IDispatch> document;
        CHECK_HR(host_.ParseText(xmlString, &document));
        CHECK_HR(GetParameterList(document.Get(), nodeName, pDisp, xmlString, ppResult));
    });
}

HRESULT Engine::GetXmlParameterList1(IDispatch *pDom, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) {
    return MethodFrame(L"CQarnUtilities::GetXmlParameterList1", [&] {
        OutParam(ppResult);
        if (!pDom) return;
        Bstr path;
        CHECK_HR(DetermineNodeNameForAliasName(aliasname, path.Out()));
        const ComPtr<IXMLDOMDocument2> document = dom::AsDom<IXMLDOMDocument2>(pDom, L"an XML document");
        // The file the document was loaded from, when it was loaded from one.
        const Bstr url = dom::Url(document.Get());
        const ComPtr<IXMLDOMNode> node = dom::SelectSingle(document.Get(), path);
        if (!node) THROW_STORE_REPORT(L"M0013", L"Node %s not found in %s.", Arg(path), Arg(url));
        CHECK_HR(DOMCreateParameterListEntry(node.Get(), pDisp, ppResult));
    });
}

HRESULT Engine::GetXmlParameterList2_(BSTR xmlFile, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) {
    return MethodFrame(L"CQarnUtilities::GetXmlParameterList2_", [&] {
        CHECK_POINTER(ppResult);
        // The [in,out] result is replaced by the list.
        ComPtr<IParameterList> list;
        CHECK_HR(GetXmlParameterList2(xmlFile, aliasname, pDisp, &list));
        if (*ppResult) (*ppResult)->Release();
        *ppResult = list.Detach();
    });
}

HRESULT Engine::GetXmlParameterList4(BSTR xmlFile, BSTR aliasname, IDispatch *pDisp, BSTR filePathWithoutBackslash, IParameterList **ppResult) {
    return MethodFrame(L"CQarnUtilities::GetXmlParameterList4", [&] {
        OutParam(ppResult);
        if (!filePathWithoutBackslash) {
            CHECK_HR(GetXmlParameterList(xmlFile, aliasname, pDisp, ppResult));
            return;
        }
        // A process variable holds at most 32,767 characters with its terminating null (as the
        // system reads it: up to the first null): a longer folder could not be set as QarnRootDir,
        // so nothing is read and there is no list.
        constexpr size_t kLongestVariableValue = 32766;
        const std::wstring folder(filePathWithoutBackslash);
        if (folder.size() > kLongestVariableValue) return;
        // The lookup takes the given folder as the installation root for this one call, on this
        // thread only: the process environment, which other threads read, stays as it is.
        ThreadEnvironmentOverride root(L"QarnRootDir", folder.c_str());
        CHECK_HR(GetXmlParameterList(xmlFile, aliasname, pDisp, ppResult));
    });
}
