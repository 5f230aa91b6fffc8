// Internal interfaces of the data-type server for the connector DLL: they are not in the type
// library and not marshalled, so they are reached by QueryInterface on an object of this server in
// the caller's own apartment only. A proxy, or a list or collection of another implementation,
// does not answer them; callers then take the general way through the public interfaces.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

#include "QarnComDatatypes.h"

// A name and a text value, borrowed from the caller for the length of one call.
struct QarnTextPair {
    const wchar_t* name;
    UINT nameLength;
    const wchar_t* value;
    UINT valueLength;
};

// Answered by the server's ParameterList.
// {7456809F-4B67-4B1E-96BD-CE07359FA68B}
struct IQarnOwnParameterList : public IUnknown {
    // The text that ParameterList.Xml gives. This server writes it well-formed whatever the values
    // hold, so a reader needs no parse to know that it is.
    virtual HRESULT STDMETHODCALLTYPE GetWellFormedXml(BSTR* xml) = 0;
};
__CRT_UUID_DECL(IQarnOwnParameterList, 0x7456809f, 0x4b67, 0x4b1e, 0x96, 0xbd, 0xce, 0x07, 0x35, 0x9f, 0xa6, 0x8b)

// Answered by the server's FieldCollection: fields made in one call instead of a creation and
// three calls per field.
// {3422E053-8F53-46D4-AEFF-E953DD3EC57E}
struct IQarnFieldMaker : public IUnknown {
    // Appends a new field per pair, in order, named and with the pair's value as a text (BSTR)
    // value. On failure the fields appended before stay.
    virtual HRESULT STDMETHODCALLTYPE AppendTextFields(const QarnTextPair* pairs, ULONG count) = 0;
    // A new field with the pair's name and text value whose Attributes are a new collection of
    // `count` text fields made of `attributes`. This collection is not changed.
    virtual HRESULT STDMETHODCALLTYPE NewAttributedField(const QarnTextPair* field, const QarnTextPair* attributes,
                                                         ULONG count, IField** result) = 0;
};
__CRT_UUID_DECL(IQarnFieldMaker, 0x3422e053, 0x8f53, 0x46d4, 0xae, 0xff, 0xe9, 0x53, 0xdd, 0x3e, 0xc5, 0x7e)
