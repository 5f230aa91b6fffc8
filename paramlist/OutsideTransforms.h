// Outside components that the parameter-list engine calls but does not ship: the XSLT processor,
// which may supply a transaction's parameter definition, and the field function component, which
// transforms field values by name. Both are dual automation interfaces.
#pragma once

#include <windows.h>
#include <oaidl.h>

// {5E07F2C3-4520-443E-B5A9-65AE5E4FDD85}
struct IXsltProcessor : public IDispatch {
    // The stylesheet that applies to the alias of `xmlFile`, or an empty text when none does.
    virtual HRESULT STDMETHODCALLTYPE GetStylesheet(BSTR xslFolder, BSTR xmlFile, BSTR aliasname, BSTR* stylesheet) = 0;
    // The XML text produced by the stylesheet (its document element is `Parameter`).
    virtual HRESULT STDMETHODCALLTYPE Transform(BSTR stylesheet, VARIANT context, VARIANT parameters, BSTR* xml) = 0;
};
__CRT_UUID_DECL(IXsltProcessor, 0x5e07f2c3, 0x4520, 0x443e, 0xb5, 0xa9, 0x65, 0xae, 0x5e, 0x4f, 0xdd, 0x85)

// {C15D9850-F3C0-446C-8738-7065F8C051E9}
struct IFieldFunction : public IDispatch {
    // The value text transformed by the function `functionName`.
    virtual HRESULT STDMETHODCALLTYPE Evaluate(BSTR value, BSTR functionName, BSTR* result) = 0;
};
__CRT_UUID_DECL(IFieldFunction, 0xc15d9850, 0xf3c0, 0x446c, 0x87, 0x38, 0x70, 0x65, 0xf8, 0xc0, 0x51, 0xe9)

namespace qarn::paramlist {

// {B99710AC-45CE-490E-877F-067EE167C3E2}
inline constexpr CLSID kXsltProcessor = {0xb99710ac, 0x45ce, 0x490e, {0x87, 0x7f, 0x06, 0x7e, 0xe1, 0x67, 0xc3, 0xe2}};
// {049B08A5-A408-470F-9840-CA58CCAB4098}
inline constexpr CLSID kFieldFunction = {0x049b08a5, 0xa408, 0x470f, {0x98, 0x40, 0xca, 0x58, 0xcc, 0xab, 0x40, 0x98}};

}  // namespace qarn::paramlist
