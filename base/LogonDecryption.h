// The internal interface through which the XML readers of this DLL decrypt logon values. It is
// not in the type library and not marshalled: it is reached by QueryInterface on an in-process
// CQarnUtilities object only.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

// {3B81997F-C67E-4C73-AC52-E265668F5AD9}
struct IQarnLogonDecryption : public IUnknown {
    // Decrypts a value made by EncryptLogon.
    virtual HRESULT STDMETHODCALLTYPE DecryptLogon(BSTR value, BSTR* result) = 0;
    // Decrypts a value made by EncryptLogon2 with `fieldName`, else one made by EncryptLogon.
    virtual HRESULT STDMETHODCALLTYPE DecryptLogon2(BSTR fieldName, BSTR fieldValue, BSTR* result) = 0;
    // As DecryptLogon2, but E_OUTOFMEMORY whenever memory ran out on the way: a reader must not
    // then take the stored text for a value that does not decrypt.
    virtual HRESULT STDMETHODCALLTYPE DecryptLogonValue(BSTR fieldName, BSTR fieldValue, BSTR* result) = 0;
};
__CRT_UUID_DECL(IQarnLogonDecryption, 0x3b81997f, 0xc67e, 0x4c73, 0xac, 0x52, 0xe2, 0x65, 0x66, 0x8f, 0x5a, 0xd9)
