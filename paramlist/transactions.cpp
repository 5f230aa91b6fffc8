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

Bstr Engine::AliasPath(BSTR aliasname, Call call) {
    return Framed(L"CQarnUtilities::DetermineNodeNameForAliasName", call, [&] {
        // The alias goes into the expression as it is written: an apostrophe makes it invalid.
        if (aliasname && SysStringLen(aliasname) > 0)
            return Bstr(std::wstring_view(FormatCapped(SysStringLen(aliasname) + kPathCapacity,
                                                       L"Qarn/Transaction[Aliasname='%s']/Import/Parameter",
                                                       Text(aliasname).c_str())));
        return Bstr(L"Parameter");
    });
}

ComPtr<IParameterList> Engine::ParsedList(IDispatch* document, BSTR path, IDispatch* pDisp, BSTR source, Call call) {
    return Framed(L"CQarnUtilities::GetParameterList", call, [&] {
        const ComPtr<IXMLDOMDocument2> dom = dom::AsDom<IXMLDOMDocument2>(document, L"an XML document");
        ComPtr<IXMLDOMNode> node;
        if (path && SysStringLen(path) > 0) node = dom::SelectSingle(dom.Get(), path);
        if (!node) THROW_STORE_REPORT(L"M0013", L"Node %s not found in %s.", Arg(path), Arg(source));
        return BuildParameterList(node.Get(), pDisp, Nodes::ParsedHere);
    });
}

void Engine::SetContext(IParameterList* list, BSTR source, BSTR transaction, bool isCustomerFile, BSTR customerWarning,
                        Call call) {
    Framed(L"CQarnUtilities::SetContext", call, [&] {
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

ComPtr<IParameterList> Engine::Transaction(BSTR xmlFile, BSTR aliasname, IDispatch* pDisp, Call call) {
    return Framed(L"CQarnUtilities::GetXmlParameterList", call, [&] {
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
                if (!xml.IsEmpty()) list = FromTextAt(xml, Bstr(L"Parameter"), nullptr);
                SetContext(list.Get(), source, aliasname, false, nullptr);
                return list;
            }
        }

        // The customer's override file comes first; its failure only becomes a warning.
        VARIANT_BOOL customerExists = VARIANT_FALSE;
        CHECK_HR(host_.FileExists(customerPath, &customerExists, false));
        if (customerExists == VARIANT_TRUE) {
            try {
                list = FromFile(customerPath, aliasname, pDisp);
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
                list = FromFile(regularPath, aliasname, pDisp);
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
        SetContext(list.Get(), source, aliasname, fromCustomerFile, warning);
        return list;
    });
}

ComPtr<IParameterList> Engine::FromFile(BSTR xmlFile, BSTR aliasname, IDispatch* pDisp, Call call) {
    return Framed(L"CQarnUtilities::GetXmlParameterList2", call, [&] { return FromFileAt(xmlFile, AliasPath(aliasname), pDisp); });
}

ComPtr<IParameterList> Engine::FromFileAt(BSTR xmlFile, BSTR nodeName, IDispatch* pDisp, Call call) {
    return Framed(L"CQarnUtilities::GetXmlParameterList3", call, [&] {
        Variant file;
        file.vt = VT_BSTR;
        file.bstrVal = CopyBstr(View(xmlFile));
        ComPtr<IDispatch> document;
        CHECK_HR(host_.ParseFile(file, &document));
        return ParsedList(document.Get(), nodeName, pDisp, xmlFile);
    });
}

ComPtr<IParameterList> Engine::FromText(BSTR xmlString, BSTR aliasname, IDispatch* pDisp, Call call) {
    return Framed(L"CQarnUtilities::GetXmlParameterListFromXMLString2", call,
                  [&] { return FromTextAt(xmlString, AliasPath(aliasname), pDisp); });
}

ComPtr<IParameterList> Engine::FromTextAt(BSTR xmlString, BSTR nodeName, IDispatch* pDisp, Call call) {
    return Framed(L"CQarnUtilities::GetXmlParameterListFromXMLString3", call, [&] {
        ComPtr<IDispatch> document;
        CHECK_HR(host_.ParseText(xmlString, &document));
        return ParsedList(document.Get(), nodeName, pDisp, xmlString);
    });
}

ComPtr<IParameterList> Engine::FromDocument(IDispatch* pDom, BSTR aliasname, IDispatch* pDisp, Call call) {
    return Framed(L"CQarnUtilities::GetXmlParameterList1", call, [&]() -> ComPtr<IParameterList> {
        if (!pDom) return {};
        const Bstr path = AliasPath(aliasname);
        const ComPtr<IXMLDOMDocument2> document = dom::AsDom<IXMLDOMDocument2>(pDom, L"an XML document");
        // The file the document was loaded from, when it was loaded from one.
        const Bstr url = dom::Url(document.Get());
        const ComPtr<IXMLDOMNode> node = dom::SelectSingle(document.Get(), path);
        if (!node) THROW_STORE_REPORT(L"M0013", L"Node %s not found in %s.", Arg(path), Arg(url));
        // The caller's document may have been built node by node.
        return BuildParameterList(node.Get(), pDisp, Nodes::FromCaller);
    });
}

ComPtr<IParameterList> Engine::TransactionInRoot(BSTR xmlFile, BSTR aliasname, IDispatch* pDisp, BSTR filePathWithoutBackslash,
                                                 Call call) {
    return Framed(L"CQarnUtilities::GetXmlParameterList4", call, [&]() -> ComPtr<IParameterList> {
        if (!filePathWithoutBackslash) return Transaction(xmlFile, aliasname, pDisp);
        // A process variable holds at most 32,767 characters with its terminating null (as the
        // system reads it: up to the first null): a longer folder could not be set as QarnRootDir,
        // so nothing is read and there is no list.
        constexpr size_t kLongestVariableValue = 32766;
        const std::wstring folder(filePathWithoutBackslash);
        if (folder.size() > kLongestVariableValue) return {};
        // The lookup takes the given folder as the installation root for this one call, on this
        // thread only: the process environment, which other threads read, stays as it is.
        ThreadEnvironmentOverride root(L"QarnRootDir", folder.c_str());
        return Transaction(xmlFile, aliasname, pDisp);
    });
}
