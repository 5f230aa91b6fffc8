// Type information queries: members of CQarnUtilities. The answers come from the type-library and
// ProgID registrations and from the version resources of the registered files.
#include "server/Utilities.h"
#include "Holders.h"

#include <winver.h>

#include <vector>

using namespace qarn;

namespace {

// The type libraries of an installation, this system's own first.
constexpr const wchar_t* kKnownLibraries[] = {
    L"{53D70BEF-7A49-4E4E-8BE6-660E8613DBE0}", L"{6866D554-1A51-4068-91EE-F2448C390F82}",
    L"{F421C546-0F85-453F-8F7C-6D83745A2003}", L"{08EA51B4-0419-47AC-8DDA-30A86C8498B3}",
    L"{528CCEB3-8951-40BD-AA3D-D622FA731308}", L"{BC6DA29D-356B-4E85-8728-47B8C3553F3C}",
    L"{C7300F9E-DB3F-44BB-9BC5-C6396DA313D8}", L"{7A7ACCD1-5B0A-4B17-9DA9-EE7B5369B825}",
    L"{BC1B4483-E689-4807-8DC2-6BE70F37E89E}", L"{69A9A33A-BB14-4708-9C50-165CF24E622D}",
    L"{7FDB4EE8-21A5-47A2-BC1C-E017E2433FC3}", L"{0E19AF7A-F5A0-4D1C-BFDE-F106456EDD43}",
    L"{0E82B2AD-129C-432F-98E5-45A084161AD5}", L"{1FEABFC9-9F03-4BC6-94B9-694FCC73D9FE}",
    L"{56529116-F4FF-49A5-81AE-A7089E6C509E}", L"{F39DADBE-CE83-4525-871B-6DA8C4C12BF9}",
    L"{60C5FC16-74C4-41A2-A916-B60AD968B384}", L"{2CF3B795-C152-4AE4-A5D9-7DB08784CEC1}",
    L"{9CA2C47F-D90B-47F2-8945-AA69718177CB}", L"{52F12926-3C46-4007-AAD4-ABB2BDE3A8E4}",
    L"{58FFDA7F-02AE-4874-84C4-92485D070ECC}", L"{3E1BC7AD-89B8-45C3-B02D-6B9FC9ABC0A4}",
    L"{E3188FC8-0FDC-44E4-BF35-4BB02DD795BA}", L"{B81322CC-501F-4D62-B012-9B9B5286D3DC}",
};

// "%d.%d.%d.%d" of the fixed file version of `path`; null when the file has no version resource.
Bstr FileVersion(BSTR path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) return nullptr;
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(path, 0, size, block.data())) return nullptr;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed ||
        length < sizeof(VS_FIXEDFILEINFO))
        return nullptr;
    return Bstr(std::wstring_view(Format(L"%d.%d.%d.%d", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                                         HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS))));
}

}  // namespace

STDMETHODIMP CQarnUtilities::GetInterfaceInfo1(IDispatch *pDispatch, IFieldCollection **ppInfo) {
    return MethodFrame(L"CQarnUtilities::GetInterfaceInfo1", [&] {
        OutParam(ppInfo);
        if (!pDispatch) return;
        UINT count = 0;
        CHECK_HR(pDispatch->GetTypeInfoCount(&count));
        if (count == 0) return;
        ComPtr<ITypeInfo> info;
        CHECK_HR(pDispatch->GetTypeInfo(0, 0, &info));
        if (!info) return;
        TypeAttr type;
        CHECK_HR(GetTypeAttr(info.Get(), type));
        ComPtr<ITypeLib> library;
        UINT index = 0;
        CHECK_HR(info->GetContainingTypeLib(&library, &index));
        LibAttr lib;
        CHECK_HR(GetLibAttr(library.Get(), lib));

        Bstr path;
        CHECK_HR(QueryPathOfRegTypeLib(lib->guid, lib->wMajorVerNum, lib->wMinorVerNum, lib->lcid, path.Out()));
        ComPtr<IFieldCollection> fields = objects_.New<IFieldCollection>(CLSID_FieldCollection);
        CHECK_HR(fields->SetValue(Bstr(L"PathName"), Variant(path.View())));
        CHECK_HR(fields->SetValue(Bstr(L"TLIB_GUID"), Variant(std::wstring_view(GuidText(lib->guid)))));
        CHECK_HR(fields->SetValue(Bstr(L"TYPE_GUID"), Variant(std::wstring_view(GuidText(type->guid)))));
        *ppInfo = fields.Detach();
    });
}

STDMETHODIMP CQarnUtilities::GetInterfaceInfo2(GUID guid, unsigned short wVerMajor, unsigned short wVerMinor, ULONG wLcid, IFieldCollection **ppInfo) {
    return MethodFrame(L"CQarnUtilities::GetInterfaceInfo2", [&] {
        OutParam(ppInfo);
        Bstr path;
        if (QueryPathOfRegTypeLib(guid, wVerMajor, wVerMinor, wLcid, path.Out()) != S_OK) return;
        ComPtr<IFieldCollection> fields = objects_.New<IFieldCollection>(CLSID_FieldCollection);
        CHECK_HR(fields->SetValue(Bstr(L"PathName"), Variant(path.View())));
        CHECK_HR(fields->SetValue(Bstr(L"TLIB_GUID"), Variant(std::wstring_view(GuidText(guid)))));
        // The version field is there even when the file has no version resource.
        Variant version;
        const Bstr text = FileVersion(path);
        if (!text.IsNull()) version = Variant(text.View());
        CHECK_HR(fields->SetValue(Bstr(L"FILE_VERSION"), version));
        *ppInfo = fields.Detach();
    });
}

STDMETHODIMP CQarnUtilities::GetInterfaceInfos(IFieldCollectionTable **ppInfo) {
    return MethodFrame(L"CQarnUtilities::GetInterfaceInfos", [&] {
        OutParam(ppInfo);
        ComPtr<IFieldCollectionTable> table = objects_.New<IFieldCollectionTable>(CLSID_FieldCollectionTable);
        for (const wchar_t* text : kKnownLibraries) {
            GUID guid;
            if (FAILED(CLSIDFromString(text, &guid))) continue;
            ComPtr<IFieldCollection> row;
            CHECK_HR(GetInterfaceInfo2(guid, 1, 0, 0, &row));
            if (!row) CHECK_HR(GetInterfaceInfo2(guid, 2, 0, 0, &row));
            if (row) CHECK_HR(table->Add(row.Get()));
        }
        *ppInfo = table.Detach();
    });
}

STDMETHODIMP CQarnUtilities::GetCLSIDFromProgID(BSTR progID, BSTR *clsid) {
    return MethodFrame(L"CQarnUtilities::GetCLSIDFromProgID", [&] {
        CHECK_POINTER(clsid);
        // An unknown name leaves the result as the caller set it up: a null text, which is the
        // empty text, from every script client. An [out] value is never freed here.
        CLSID found;
        if (!progID || FAILED(CLSIDFromProgID(progID, &found))) return;
        LPOLESTR text = nullptr;
        CHECK_HR(StringFromCLSID(found, &text));
        const TaskText owned(text);
        *clsid = CopyBstr(text);
    });
}
