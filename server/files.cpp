// File-system operations: members of CQarnUtilities.
#include "server/Utilities.h"
#include "FileContent.h"

#include <shlwapi.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <io.h>
#include <sys/stat.h>
#include <direct.h>

using namespace qarn;

namespace {

constexpr int kWriteBit = 0x80;  // the only bit of a change-mode request that counts

bool Exists(const wchar_t* name) { return name && _waccess(name, 0) == 0; }

// NUL, the console, a port or a path of the device namespace: no file whose attributes, name or
// existence this module may change.
bool IsDevice(const wchar_t* name) { return name && text::DeviceOfPath(name) != text::DeviceKind::None; }

// Makes a file writable before it is overwritten or removed; fails silently (e.g. no such file).
void ClearReadOnly(const wchar_t* name) {
    if (!IsDevice(name)) _wchmod(name, _S_IREAD | _S_IWRITE);
}

// Copies `source` to a device as its content: the device is written to, never replaced.
bool CopyToDevice(const wchar_t* source, const wchar_t* device) {
    const std::optional<std::string> bytes = ReadFileContent(source);
    return bytes && ReplaceFileContent(device, *bytes) == ERROR_SUCCESS;
}

bool SameNameIgnoringCase(BSTR a, BSTR b) { return EqualIgnoringCase(*Arg(a), *Arg(b)); }

// A search of the C runtime, closed on every path.
class FindHandle {
public:
    FindHandle(const std::wstring& pattern, _wfinddata64_t& entry) : handle_(_wfindfirst64(pattern.c_str(), &entry)) {}
    ~FindHandle() {
        if (handle_ != -1) _findclose(handle_);
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    bool Found() const { return handle_ != -1; }
    bool Next(_wfinddata64_t& entry) { return _wfindnext64(handle_, &entry) == 0; }

private:
    intptr_t handle_;
};

bool IsDotEntry(const wchar_t* name) { return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0; }

}  // namespace

STDMETHODIMP CQarnUtilities::FileExist(BSTR fileName, VARIANT_BOOL *result) {
    return MethodFrame(L"CQarnUtilities::FileExist", [&] {
        OutParam(result) = VARIANT_FALSE;
        if (!Exists(fileName)) THROW_STORE_MESSAGE(L"M0001", L"File %s does not exist.", Arg(fileName));
        *result = VARIANT_TRUE;
    });
}

STDMETHODIMP CQarnUtilities::FileExist2(BSTR fileName, VARIANT_BOOL *result) {
    return MethodFrame(L"CQarnUtilities::FileExist2", [&] {
        OutParam(result) = Exists(fileName) ? VARIANT_TRUE : VARIANT_FALSE;
    });
}

STDMETHODIMP CQarnUtilities::FileAccess(BSTR file, int mode, VARIANT_BOOL *access) {
    return MethodFrame(L"CQarnUtilities::FileAccess", [&] {
        OutParam(access) = VARIANT_FALSE;
        if (mode & ~6)
            THROW_MESSAGE(L"mode 00 -> Existence only\nmode 02 -> Write-only\nmode 04 -> Read-only\n"
                          L"mode 06 -> Read and Write\nin CQarnUtilities::FileAccess");
        if (!file) return;
        *access = _waccess(file, mode) == 0 ? VARIANT_TRUE : VARIANT_FALSE;
    });
}

STDMETHODIMP CQarnUtilities::FileCopy(BSTR source, BSTR destination) {
    return MethodFrame(L"CQarnUtilities::FileCopy", [&] {
        if (!source || !destination || SameNameIgnoringCase(source, destination)) return;
        ClearReadOnly(destination);
        bool copied = false;
        if (IsDevice(destination))
            copied = CopyToDevice(source, destination);
        else if (!IsDevice(source) || text::DeviceOfPath(source) == text::DeviceKind::Discard)
            copied = CopyFileW(source, destination, FALSE) != FALSE;  // the console or a port could wait forever
        if (!copied)
            THROW_STORE_MESSAGE(L"M0012", L"Error copying file %s to %s.", Arg(source), Arg(destination));
    });
}

STDMETHODIMP CQarnUtilities::FileMove(BSTR source, BSTR destination) {
    return MethodFrame(L"CQarnUtilities::FileMove", [&] {
        if (!source || !destination || SameNameIgnoringCase(source, destination)) return;
        ClearReadOnly(destination);
        // A device is never moved away, and one that is a destination takes the content only.
        bool moved = false;
        if (IsDevice(source)) {
            // nothing: the console or NUL is no file to take away
        } else if (IsDevice(destination)) {
            if (CopyToDevice(source, destination)) {
                ClearReadOnly(source);
                moved = _wremove(source) == 0;
            }
        } else {
            const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH;
            moved = MoveFileExW(source, destination, flags) != FALSE;
        }
        if (!moved)
            THROW_STORE_MESSAGE(L"M0119", L"Error moving file %s to %s.", Arg(source), Arg(destination));
    });
}

STDMETHODIMP CQarnUtilities::FileRemove(BSTR fileName) {
    return MethodFrame(L"CQarnUtilities::FileRemove", [&] {
        if (!fileName) return;
        ClearReadOnly(fileName);
        if (IsDevice(fileName) || _wremove(fileName) != 0)
            THROW_STORE_MESSAGE(L"M0014", L"Error removing file %s.", Arg(fileName));
    });
}

STDMETHODIMP CQarnUtilities::FilesRemove(BSTR directory, BSTR selection) {
    return MethodFrame(L"CQarnUtilities::FilesRemove", [&] {
        if (!directory || !selection) return;
        const std::wstring folder(*Arg(directory));
        const std::wstring pattern = folder + std::wstring(*Arg(selection));
        if (!Exists(directory)) return;
        _wfinddata64_t entry{};
        FindHandle find(pattern, entry);
        if (!find.Found()) return;
        do {
            if (IsDotEntry(entry.name)) continue;
            const std::wstring path = folder + entry.name;
            if (IsDevice(path.c_str())) continue;  // a file whose name the system takes for a device
            ClearReadOnly(path.c_str());
            _wremove(path.c_str());  // best effort: subdirectories and locked files stay
        } while (find.Next(entry));
    });
}

STDMETHODIMP CQarnUtilities::FileWrite(BSTR fileName, BSTR s) {
    return MethodFrame(L"CQarnUtilities::FileWrite", [&] {
        if (!fileName) return;
        const std::string bytes = TextModeUtf8(Arg(s).value_or(std::wstring_view()));
        // A file that cannot be opened is skipped; a text that cannot be written completely is
        // not left in part.
        bool opened = false;
        const DWORD error = AppendFileContent(std::wstring(*Arg(fileName)), bytes, &opened);
        if (opened && error != ERROR_SUCCESS)
            THROW_MESSAGE(Format(L"Error writing file %s: %s", fileName, SystemErrorText(error).c_str()));
    });
}

STDMETHODIMP CQarnUtilities::Chmod(BSTR fileName, LONG mode) {
    return MethodFrame(L"CQarnUtilities::Chmod", [&] {
        if (!fileName || IsDevice(fileName)) return;
        _wchmod(fileName, (mode & kWriteBit) ? (_S_IREAD | _S_IWRITE) : _S_IREAD);
    });
}

STDMETHODIMP CQarnUtilities::GetFileStamp(BSTR fileName, LONG *fileStamp) {
    return MethodFrame(L"CQarnUtilities::GetFileStamp", [&] {
        // The out value is cleared first: an unreadable file leaves 0.
        OutParam(fileStamp);
        if (!fileName) return;
        struct _stat64 status {};
        if (_wstat64(fileName, &status) == 0) *fileStamp = static_cast<LONG>(status.st_mtime);
    });
}

STDMETHODIMP CQarnUtilities::GetFileStamp2(BSTR fileName, BSTR *fileStamp) {
    return MethodFrame(L"CQarnUtilities::GetFileStamp2", [&] {
        OutParam(fileStamp);
        LONG stamp = 0;
        CHECK_HR(GetFileStamp(fileName, &stamp));
        *fileStamp = CopyBstr(std::wstring_view(Format(L"%ld", static_cast<long>(stamp))));
    });
}

STDMETHODIMP CQarnUtilities::GetFilesInDirectory(BSTR directory, BSTR filter, IFieldCollection **ppResult) {
    return MethodFrame(L"CQarnUtilities::GetFilesInDirectory", [&] {
        OutParam(ppResult);
        if (!directory || !filter) return;
        const std::wstring folder(*Arg(directory));
        const std::wstring pattern = folder + L"\\" + std::wstring(*Arg(filter));
        ComPtr<IFieldCollection> result;
        {
            _wfinddata64_t entry{};
            FindHandle find(pattern, entry);
            if (find.Found()) {
                do {
                    // Plain directories are left out; one that also carries another attribute is listed.
                    if (IsDotEntry(entry.name) || entry.attrib == _A_SUBDIR) continue;
                    if (!result) result = objects_.New<IFieldCollection>(CLSID_FieldCollection);
                    const std::wstring path = folder + L"\\" + entry.name;
                    CHECK_HR(result->Add(objects_.TextField(path, path).Get()));
                } while (find.Next(entry));
            }
        }
        if (!result) return;
        ComPtr<IFieldCollection> attributes = objects_.AttributesOf(result.Get());
        Variant directoryText(folder), filterText(*Arg(filter));
        CHECK_HR(attributes->SetValue(Bstr(L"directory"), directoryText));
        CHECK_HR(attributes->SetValue(Bstr(L"filter"), filterText));
        *ppResult = result.Detach();
    });
}

STDMETHODIMP CQarnUtilities::Mkdir(BSTR directory) {
    return MethodFrame(L"CQarnUtilities::Mkdir", [&] {
        if (!directory) return;
        const std::wstring whole(*Arg(directory));
        const bool unc = PathIsUNCW(whole.c_str()) != FALSE;
        const std::vector<std::wstring_view> tokens = text::PathTokens(whole);
        std::wstring path;
        for (size_t i = 0; i < tokens.size(); ++i) {
            if (unc && i == 0) {
                // Server and share form the first level of a UNC name.
                if (i + 1 >= tokens.size()) return;
                path = L"\\\\" + std::wstring(tokens[0]) + L"\\" + std::wstring(tokens[1]);
                ++i;
            } else {
                path += tokens[i];
            }
            path += L"\\";
            if (_waccess(path.c_str(), 0) == 0) continue;
            if (unc) {
                const int error = errno;
                if (error == EACCES) continue;
                if (error == EINVAL)
                    THROW_MESSAGE(FormatCapped(path.size() + 2048, L"Invalid parameter or user has no access to UNC drive: %s.",
                                               path.c_str()));
            }
            if (_wmkdir(path.c_str()) != 0)
                THROW_STORE_MESSAGE(L"M0019", L"Error creating directory %s.", std::wstring_view(path));
        }
    });
}

STDMETHODIMP CQarnUtilities::Rmdir(BSTR directory) {
    return MethodFrame(L"CQarnUtilities::Rmdir", [&] {
        if (!Exists(directory)) return;
        if (_wrmdir(directory) != 0) THROW_STORE_MESSAGE(L"M0020", L"Error deleting directory %s.", Arg(directory));
    });
}
