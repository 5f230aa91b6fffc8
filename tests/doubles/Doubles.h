// The classes of QarnTestDoubles.dll (QarnTestDoubles.idl describes them), registered only in the
// test prefix (Doubles.rgs).
#pragma once

#include <cstddef>
#include <string>

#include "QarnTestDoubles.h"

#include "ComObject.h"

class DispatchProbe : public qarn::ComObject<DispatchProbe, IDispatchProbe> {
public:
    STDMETHODIMP Split(BSTR text, BSTR* rest, BSTR* head) override;
    STDMETHODIMP FillList(BSTR name, BSTR value, IParameterList** list) override;
    STDMETHODIMP Toggle(VARIANT_BOOL* flag) override;
    STDMETHODIMP Bracket(BSTR* text) override;
    STDMETHODIMP IsNullField(IField* field, VARIANT_BOOL* isNull) override;
    STDMETHODIMP get_Word(LONG index, BSTR* word) override;
    STDMETHODIMP get_Count(LONG* count) override;
    STDMETHODIMP get__NewEnum(IUnknown** ppEnum) override;
    STDMETHODIMP Fail(BSTR message) override;
    STDMETHODIMP Describe(GUID guid, BSTR* text) override;
};

class ScriptEngine : public qarn::ComObject<ScriptEngine, IScriptEngineDouble> {
public:
    STDMETHODIMP RunMacro(BSTR macroName, IDispatch** input, IDispatch** output) override;
    STDMETHODIMP RunMacro2(BSTR macroName, IDispatch** input, IDispatch** output) override;
    STDMETHODIMP Destroy() override;

private:
    // One macro call; `documents` tells RunMacro2 (QarnDocuments) from RunMacro (ParameterLists).
    HRESULT Run(const wchar_t* member, bool documents, BSTR macroName, IDispatch** input, IDispatch** output);
    long calls_ = 0;  // macro calls of this engine, both entry members
    bool refuseDestroy_ = false;
};

// Stylesheets are files "<alias>.xsl" in the folder given; transformations run with MSXML 6.
class XsltProcessor : public qarn::ComObject<XsltProcessor, IXsltProcessor> {
public:
    STDMETHODIMP GetStylesheet(BSTR xslFolder, BSTR xmlFile, BSTR aliasname, BSTR* stylesheet) override;
    STDMETHODIMP Transform(BSTR stylesheet, VARIANT context, VARIANT parameters, BSTR* xml) override;
};

class FieldFunction : public qarn::ComObject<FieldFunction, IFieldFunction> {
public:
    STDMETHODIMP Evaluate(BSTR value, BSTR functionName, BSTR* result) override;
};

// One class registered under nine CLSIDs, one per connector: an object knows its ProgID and answers
// the interface the factory asks that connector for (the Windchill one has no IClassCreatorHelper).
class ConnectorDouble : public qarn::ComObject<ConnectorDouble, IConnectorDouble, IClassCreatorHelper> {
public:
    struct Kind {
        const wchar_t* progId;
        bool helper;  // implements IClassCreatorHelper
        CLSID clsid;
        IID iid;  // what the factory asks for
    };
    static constexpr size_t kKindCount = 9;
    static const Kind kKinds[kKindCount];

    explicit ConnectorDouble(const Kind& kind) noexcept : kind_(kind) {}
    // The class object's creator of kKinds[I]. Connectors are not aggregated.
    template <size_t I>
    static HRESULT CreateKind(IUnknown* outer, REFIID iid, void** ppv) noexcept {
        static_assert(I < kKindCount);
        return Create(kKinds[I], outer, iid, ppv);
    }
    void* FindInterface(REFIID iid) noexcept;  // the kind's interface in front of the declared ones
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override;
    STDMETHODIMP get_Calls(BSTR* calls) override;
    STDMETHODIMP get_ClassName(BSTR* progId) override;
    STDMETHODIMP put_Note(BSTR text) override;
    STDMETHODIMP SetHandler(BSTR handlerClass, IFieldCollection* environment) override;
    STDMETHODIMP Prepare() override;

private:
    static HRESULT Create(const Kind& kind, IUnknown* outer, REFIID iid, void** ppv) noexcept;
    const Kind& kind_;
    std::wstring calls_;
};

// The about dialog ("QarnComDialogs.CQarnAboutDlg"): shows nothing, counts the calls per process.
class AboutDialogDouble : public qarn::ComObject<AboutDialogDouble, IAboutDialogDouble, IForwardAboutDialogHelper> {
public:
    STDMETHODIMP get_ShownCount(LONG* count) override;
    STDMETHODIMP get_LastApplicationWasGiven(VARIANT_BOOL* given) override;
    STDMETHODIMP ShowAboutDialog(IDispatch* application) override;
};
