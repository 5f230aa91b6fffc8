// Internal interfaces of the data-type server for the connector DLL: they are not in the type
// library and not marshalled, so they are reached by QueryInterface on an object of this server in
// the caller's own apartment only. Their identifiers come with the version (QarnOwnBuild.h, made
// by the build): a proxy, an object of another implementation or of another version of this
// server does not answer them, and callers then take the general way through the public
// interfaces. The connector calls members beyond the general ones (a list's or structure's
// put_FieldCollection, say) only on objects that answer IQarnOwnObject.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

#include "QarnComDatatypes.h"
#include "QarnOwnBuild.h"

// __CRT_UUID_DECL with the identifier's parts from one macro.
#define QARN_UUID_DECL(type, ...) __CRT_UUID_DECL(type, __VA_ARGS__)

// Answered by the objects of this server and version that the connector uses beyond the general
// members: nothing to call, the answer itself is what counts.
struct IQarnOwnObject : public IUnknown {};
QARN_UUID_DECL(IQarnOwnObject, QARN_IID_OWN_OBJECT)

// Whether `object` is this server's, of this version (answers IQarnOwnObject).
inline bool IsOwnObject(IUnknown* object) {
    IUnknown* own = nullptr;
    if (!object || FAILED(object->QueryInterface(__uuidof(IQarnOwnObject), reinterpret_cast<void**>(&own))) || !own)
        return false;
    own->Release();
    return true;
}

// A name and a text value, borrowed from the caller for the length of one call.
struct QarnTextPair {
    const wchar_t* name;
    UINT nameLength;
    const wchar_t* value;
    UINT valueLength;
};

// Answered by the server's ParameterList.
struct IQarnOwnParameterList : public IUnknown {
    // The text that ParameterList.Xml gives. This server writes it well-formed whatever the values
    // hold, so a reader needs no parse to know that it is.
    virtual HRESULT STDMETHODCALLTYPE GetWellFormedXml(BSTR* xml) = 0;
    // Fills this new, empty list from a snapshot that a list of this server and version took
    // (kSnapshotDispid): the list then holds the copy that Clone would have made of that list.
    virtual HRESULT STDMETHODCALLTYPE ReadSnapshot(const BYTE* data, ULONG size) = 0;
};
QARN_UUID_DECL(IQarnOwnParameterList, QARN_IID_OWN_PARAMETER_LIST)

// The member of the server's ParameterList that is in no type library: IDispatch::Invoke with this
// DISPID (a property get without arguments) gives a snapshot of the whole list, a VT_ARRAY|VT_UI1
// of bytes that ReadSnapshot reads. A caller in another apartment reaches it through the list's
// proxy in one call, where copying the list member by member would take one call per member.
// Lists of other servers or versions answer DISP_E_MEMBERNOTFOUND, and a list that holds values
// other than texts and numbers a failure: the caller then copies the list as before.
constexpr DISPID kSnapshotDispid = 0x51A90001;

// Answered by the server's FieldCollection: fields made in one call instead of a creation and
// three calls per field.
struct IQarnFieldMaker : public IUnknown {
    // Appends a new field per pair, in order, named and with the pair's value as a text (BSTR)
    // value. On failure the fields appended before stay.
    virtual HRESULT STDMETHODCALLTYPE AppendTextFields(const QarnTextPair* pairs, ULONG count) = 0;
    // A new field with the pair's name and text value whose Attributes are a new collection of
    // `count` text fields made of `attributes`. This collection is not changed.
    virtual HRESULT STDMETHODCALLTYPE NewAttributedField(const QarnTextPair* field, const QarnTextPair* attributes,
                                                         ULONG count, IField** result) = 0;
};
QARN_UUID_DECL(IQarnFieldMaker, QARN_IID_FIELD_MAKER)
