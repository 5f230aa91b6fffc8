// Text and CSV files: members of CQarnUtilities.
#include "util/Utilities.h"
#include "FileContent.h"

#include <cstdio>
#include <memory>

using namespace qarn;

namespace {

// The text of each line of a line collection, in order.
std::vector<Bstr> LineTexts(IFieldCollection* lines) {
    long count = 0;
    CHECK_HR(lines->get_Count(&count));
    std::vector<Bstr> texts;
    texts.reserve(count > 0 ? static_cast<size_t>(count) : 0);
    for (long i = 1; i <= count; ++i) {
        ComPtr<IField> line;
        CHECK_HR(lines->get_Item(i, &line));
        Bstr text;
        if (line) CHECK_HR(line->get_StringValue(text.Out()));
        texts.push_back(std::move(text));
    }
    return texts;
}

// Adds text[start, end) as the next numbered line field of `target` and moves start past end.
void CreateLineEntry(DataObjects& objects, long& counter, std::wstring_view text, size_t& start, size_t end,
                     IFieldCollection* target) {
    if (!target) return;
    ++counter;
    const std::wstring_view line = text.substr(start, end - start);
    CHECK_HR(target->Add(objects.TextField(std::to_wstring(counter), line).Get()));
    start = end + 1;
}

}  // namespace

STDMETHODIMP CQarnUtilities::ReadTextFile(BSTR fileName, IFieldCollection **ppFieldCollection) {
    return MethodFrame(L"CQarnUtilities::ReadTextFile", [&]() -> HRESULT {
        OutParam(ppFieldCollection);
        if (!fileName || !*fileName) return S_FALSE;
        std::optional<std::string> bytes = ReadFileContent(fileName);
        if (!bytes) return S_OK;
        const std::wstring text = text::DecodeTextModeBytes(*bytes);
        bytes.reset();
        ComPtr<IFieldCollection> lines = objects_.New<IFieldCollection>(CLSID_FieldCollection);
        long counter = 0;
        size_t start = 0;
        for (const text::Span& line : text::SplitLines(text)) CreateLineEntry(objects_, counter, text, start, line.end, lines.Get());
        *ppFieldCollection = lines.Detach();
        return S_OK;
    });
}

STDMETHODIMP CQarnUtilities::ReadCSVFile(BSTR fileName, BSTR separator, IFieldCollection **ppFieldCollection) {
    return MethodFrame(L"CQarnUtilities::ReadCSVFile", [&]() -> HRESULT {
        OutParam(ppFieldCollection);
        if (!separator) return S_FALSE;
        ComPtr<IFieldCollection> lines;
        CHECK_HR(ReadTextFile(fileName, &lines));
        if (!lines) return S_OK;
        const std::wstring_view delimiters = *Arg(separator);
        ComPtr<IFieldCollection> result;
        for (const Bstr& line : LineTexts(lines.Get())) {
            const std::vector<std::wstring_view> tokens =
                text::SplitTokens(Arg(line).value_or(std::wstring_view()), delimiters);
            // Name and value pair up within a line; a last name without a value is dropped.
            for (size_t i = 0; i + 1 < tokens.size(); i += 2) {
                if (!result) result = objects_.New<IFieldCollection>(CLSID_FieldCollection);
                CHECK_HR(result->Add(objects_.TextField(tokens[i], tokens[i + 1]).Get()));
            }
        }
        *ppFieldCollection = result.Detach();
        return S_OK;
    });
}

STDMETHODIMP CQarnUtilities::ReadCSVFile2(BSTR fileName, BSTR separator, IFieldCollectionTable **ppFieldCollectionTable) {
    return MethodFrame(L"CQarnUtilities::ReadCSVFile2", [&]() -> HRESULT {
        OutParam(ppFieldCollectionTable);
        if (!separator || !*separator) return S_FALSE;
        const wchar_t column = separator[0];
        ComPtr<IFieldCollection> lines;
        CHECK_HR(ReadTextFile(fileName, &lines));
        if (!lines) return S_OK;
        const std::vector<Bstr> texts = LineTexts(lines.Get());
        std::vector<std::wstring> header;
        ComPtr<IFieldCollectionTable> table;
        for (size_t index = 0; index < texts.size(); ++index) {
            const std::wstring_view line = Arg(texts[index]).value_or(std::wstring_view());
            if (line.empty()) continue;
            const std::vector<std::wstring_view> columns = text::SplitColumns(line, column);
            if (index == 0) {
                header.assign(columns.begin(), columns.end());
                continue;
            }
            if (!table) table = objects_.New<IFieldCollectionTable>(CLSID_FieldCollectionTable);
            ComPtr<IFieldCollection> row = objects_.New<IFieldCollection>(CLSID_FieldCollection);
            const size_t width = std::max(columns.size(), header.size());
            for (size_t j = 0; j < width; ++j) {
                const std::wstring name = j < header.size() ? header[j] : L"Index" + std::to_wstring(j);
                const std::wstring_view value = j < columns.size() ? columns[j] : std::wstring_view();
                CHECK_HR(row->Add(objects_.TextField(name, value).Get()));
            }
            CHECK_HR(table->Add(row.Get()));
        }
        *ppFieldCollectionTable = table.Detach();
        return S_OK;
    });
}
