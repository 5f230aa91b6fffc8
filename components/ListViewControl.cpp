// QarnGenericListViewControl: shows result documents in a modal list view dialog.
#include "components/ListViewControl.h"
#include "base/OwnContext.h"

#include <commctrl.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cwchar>
#include <optional>

#include "resources/resource.h"

using namespace qarn;

namespace {

// The text of the field `name`, or nothing when the collection has no such field. Values that are
// not texts (a width given as a number by a script) are converted like StringValue does.
std::optional<Bstr> FieldText(IFieldCollection* collection, const wchar_t* name) {
    ComPtr<IField> field;
    CHECK_HR(collection->get_Field(Bstr(name), &field));
    if (!field) return std::nullopt;
    Bstr text;
    CHECK_HR(field->get_StringValue(text.Out()));
    return text;
}

// The number a text starts with, read the way the C runtime's integer conversion reads it: blanks
// skipped, a sign, then digits up to the first other character ("120px" is 120); 0 without digits.
// Values beyond the int range stop at its ends.
int LeadingNumber(const Bstr& text) {
    if (text.IsNull()) return 0;
    errno = 0;
    const long long value = std::wcstoll(text.get(), nullptr, 10);
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

wchar_t* TextOf(const Bstr& text) { return text.IsNull() ? const_cast<wchar_t*>(L"") : text.get(); }

}  // namespace

void CGenericListControl::DoModal(HWND owner) {
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    SetLastError(0);
    const INT_PTR result = DialogBoxParamW(module::Instance(), MAKEINTRESOURCEW(IDD_GENERICLISTCONTROL), owner,
                                           &CGenericListControl::DialogProc, reinterpret_cast<LPARAM>(this));
    if (result == -1 || result == 0) {
        const DWORD error = GetLastError();
        THROW_MESSAGE(Format(L"The list view dialog could not be opened (system error %lu); a process without a desktop "
                             L"cannot show it.",
                             error));
    }
}

INT_PTR CALLBACK CGenericListControl::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        auto* self = reinterpret_cast<CGenericListControl*>(lParam);
        self->dialog_ = window;
        self->list_ = GetDlgItem(window, IDC_RESULTLIST);
        // A failure stays on the thread as its error object; the dialog opens all the same.
        self->OnInitDialog();
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(window, LOWORD(wParam));
            return TRUE;
        }
        break;
    }
    return FALSE;
}

HRESULT CGenericListControl::OnInitDialog() {
    return MethodFrame(L"CGenericListControl::OnInitDialog", [&] {
        if (!document_) return;
        CHECK_HR(CreateOwn(CLSID_CQarnUtilities, IID_PPV_ARGS(&utilities_)));
        CHECK_HR(utilities_->ReadXmlConfigurationFiles());

        CHECK_HR(document_->get_Children(&children_));
        CHECK_HR(document_->get_ParameterList(&parameters_));
        if (!parameters_) THROW_MESSAGE(L"The document to show has no parameter list: it gives the caption and the columns.");
        CHECK_HR(parameters_->get_FieldCollection(&fields_));
        if (!fields_) THROW_MESSAGE(L"The parameter list of the document to show has no field collection.");

        Bstr caption;
        CHECK_HR(fields_->GetValue(Bstr(L"Caption"), caption.Out()));
        SetWindowTextW(dialog_, TextOf(caption));

        ComPtr<ITable> table;
        CHECK_HR(parameters_->GetTable(Bstr(L"Columns"), &table));
        if (table) CHECK_HR(table->get_FieldCollectionTable(&columns_));
        long count = 0;
        if (columns_) CHECK_HR(columns_->get_Count(&count));
        for (long c = 1; c <= count; ++c) {
            ComPtr<IFieldCollection> description;
            CHECK_HR(columns_->get_Item(c, &description));
            if (!description) continue;
            const auto header = FieldText(description.Get(), L"Caption");
            const auto width = FieldText(description.Get(), L"Width");
            if (!header || !width || !FieldText(description.Get(), L"Subtype") || !FieldText(description.Get(), L"Attribut"))
                continue;
            LVCOLUMNW column{};
            column.mask = LVCF_FMT | LVCF_TEXT;
            column.fmt = LVCFMT_LEFT;
            column.pszText = TextOf(*header);
            // -1 leaves the width to the list view.
            if (const int pixels = LeadingNumber(*width); pixels != -1) {
                column.mask |= LVCF_WIDTH;
                column.cx = std::clamp(pixels, 0, 0x7fff);
            }
            SendMessageW(list_, LVM_INSERTCOLUMNW, c - 1, reinterpret_cast<LPARAM>(&column));
        }
        CHECK_HR(DisplayResult());
    });
}

HRESULT CGenericListControl::DisplayResult() {
    return MethodFrame(L"CGenericListControl::DisplayResult", [&] {
        SendMessageW(list_, LVM_DELETEALLITEMS, 0, 0);
        long count = 0;
        if (children_) CHECK_HR(children_->get_Count(&count));
        for (long r = 1; r <= count; ++r) {
            ComPtr<IQarnDocument> child;
            CHECK_HR(children_->get_Item(r, &child));
            CHECK_HR(AddLine(child.Get(), r));
        }
        // Keep the dialog responsive while it fills: paint, let one waiting message through, paint.
        UpdateWindow(dialog_);
        MSG message;
        if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam));  // the caller's loop must still see it
            } else {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
        UpdateWindow(dialog_);
    });
}

// Cells go by the number of their description, whatever columns were created: the first description
// inserts the row's item and description c fills sub-item c - 1. A row without a value in the first
// description gets no item, and its other cells are not shown.
HRESULT CGenericListControl::AddLine(IQarnDocument* row, long number) {
    return MethodFrame(L"CGenericListControl::AddLine", [&] {
        if (!row || !columns_) return;
        ComPtr<IParameterList> list;
        CHECK_HR(row->get_ParameterList(&list));
        if (!list) return;
        long count = 0;
        CHECK_HR(columns_->get_Count(&count));
        int item = -1;
        for (long c = 1; c <= count; ++c) {
            ComPtr<IFieldCollection> description;
            CHECK_HR(columns_->get_Item(c, &description));
            if (!description) continue;
            const auto subtype = FieldText(description.Get(), L"Subtype");
            const auto attribute = FieldText(description.Get(), L"Attribut");
            if (!subtype || !attribute) continue;
            ComPtr<IField> field;
            if (subtype->View() == L"FieldCollection") {
                CHECK_HR(list->GetField(*attribute, &field));
            } else if (subtype->View() == L"StructureCollection") {
                if (const auto structure = FieldText(description.Get(), L"Structurename"))
                    CHECK_HR(list->GetStructureField(*attribute, *structure, &field));
            } else if (subtype->View() == L"TableCollection") {
                const auto table = FieldText(description.Get(), L"Tablename");
                const auto rowText = FieldText(description.Get(), L"Row");
                if (table && rowText) {
                    const long tableRow = LeadingNumber(*rowText);
                    if (tableRow >= 1) CHECK_HR(list->GetTableField(*attribute, *table, tableRow, &field));
                }
            }
            if (!field) continue;
            Bstr text;
            CHECK_HR(field->get_StringValue(text.Out()));
            LVITEMW cell{};
            cell.mask = LVIF_TEXT;
            cell.pszText = TextOf(text);
            if (c == 1) {
                cell.iItem = number - 1;
                item = static_cast<int>(SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&cell)));
            } else if (item >= 0) {
                cell.iItem = item;
                cell.iSubItem = static_cast<int>(std::min<long>(c - 1, INT_MAX));
                SendMessageW(list_, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&cell));
            }
        }
    });
}

STDMETHODIMP CQarnGenericListViewControl::Show(IQarnDocument *pData) {
    return MethodFrame(L"CQarnGenericListViewControl::Show", [&] {
        // The earlier dialog object goes now. A dialog still open further up this thread's stack (a
        // Show from inside its message loop) stays alive through the local reference below.
        auto dialog = std::make_shared<CGenericListControl>(pData);
        dialog_ = dialog;
        dialog->DoModal(GetActiveWindow());
    });
}
