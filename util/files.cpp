// File-system operations: members of CQarnUtilities.
#include "util/Utilities.h"

using namespace qarn;

STDMETHODIMP CQarnUtilities::FileExist(BSTR fileName, VARIANT_BOOL *result) {
    return MethodFrame(L"CQarnUtilities::FileExist", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetFileStamp(BSTR fileName, LONG *fileStamp) {
    return MethodFrame(L"CQarnUtilities::GetFileStamp", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::FileCopy(BSTR source, BSTR destination) {
    return MethodFrame(L"CQarnUtilities::FileCopy", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::FileRemove(BSTR fileName) {
    return MethodFrame(L"CQarnUtilities::FileRemove", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetFileStamp2(BSTR fileName, BSTR *fileStamp) {
    return MethodFrame(L"CQarnUtilities::GetFileStamp2", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::FilesRemove(BSTR directory, BSTR selection) {
    return MethodFrame(L"CQarnUtilities::FilesRemove", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::GetFilesInDirectory(BSTR directory, BSTR filter, IFieldCollection **ppResult) {
    return MethodFrame(L"CQarnUtilities::GetFilesInDirectory", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::Mkdir(BSTR directory) {
    return MethodFrame(L"CQarnUtilities::Mkdir", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::Rmdir(BSTR directory) {
    return MethodFrame(L"CQarnUtilities::Rmdir", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::FileMove(BSTR source, BSTR destination) {
    return MethodFrame(L"CQarnUtilities::FileMove", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::FileExist2(BSTR fileName, VARIANT_BOOL *result) {
    return MethodFrame(L"CQarnUtilities::FileExist2", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::FileAccess(BSTR file, int mode, VARIANT_BOOL *access) {
    return MethodFrame(L"CQarnUtilities::FileAccess", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::FileWrite(BSTR fileName, BSTR s) {
    return MethodFrame(L"CQarnUtilities::FileWrite", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::Chmod(BSTR fileName, LONG mode) {
    return MethodFrame(L"CQarnUtilities::Chmod", [&] { ThrowNotImplemented(); });
}
