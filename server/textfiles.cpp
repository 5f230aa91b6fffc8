// Text and CSV files: members of CQarnUtilities.
#include "server/Utilities.h"
#include "FileContent.h"

#include "base/OwnAccess.h"

#include <algorithm>
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

// The text of bytes[span]: one character per byte.
void AppendWidened(std::vector<wchar_t>& to, std::string_view bytes, const text::Span& span) {
    for (size_t i = span.begin; i < span.end; ++i) to.push_back(static_cast<wchar_t>(static_cast<unsigned char>(bytes[i])));
}

// One numbered text field per line of the file's bytes appended to `target`: the first line is
// named "1". The data-type server makes them in bulk when it can (IQarnFieldMaker), else one by
// one. The text is made batch by batch, never for the whole file at once.
void AppendLineFields(DataObjects& objects, std::string_view bytes, const std::vector<text::Span>& lines,
                      IFieldCollection* target) {
    ComPtr<IQarnFieldMaker> maker;
    std::vector<wchar_t> texts, names;
    if (FAILED(target->QueryInterface(IID_PPV_ARGS(&maker))) || !maker) {
        long counter = 0;
        for (const text::Span& line : lines) {
            texts.clear();
            AppendWidened(texts, bytes, line);
            CHECK_HR(target->Add(
                objects.TextField(std::to_wstring(++counter), std::wstring_view(texts.data(), texts.size())).Get()));
        }
        return;
    }
    constexpr size_t kBatch = 4096;
    std::vector<QarnTextPair> pairs;
    for (size_t first = 0; first < lines.size(); first += kBatch) {
        const size_t last = std::min(lines.size(), first + kBatch);
        pairs.clear();
        names.clear();
        texts.clear();
        texts.reserve(lines[last - 1].end - lines[first].begin);  // no reallocation below
        names.reserve((last - first) * 20);
        for (size_t i = first; i < last; ++i) {
            wchar_t digits[24];
            wchar_t* from = digits + 24;
            for (size_t number = i + 1; number; number /= 10) *--from = static_cast<wchar_t>(L'0' + number % 10);
            const wchar_t* name = names.data() + names.size();
            names.insert(names.end(), from, digits + 24);
            const wchar_t* value = texts.data() + texts.size();
            AppendWidened(texts, bytes, lines[i]);
            pairs.push_back({name, static_cast<UINT>(digits + 24 - from), value,
                             static_cast<UINT>(lines[i].end - lines[i].begin)});
        }
        CHECK_HR(maker->AppendTextFields(pairs.data(), static_cast<ULONG>(pairs.size())));
    }
}

}  // namespace

STDMETHODIMP CQarnUtilities::ReadTextFile(BSTR fileName, IFieldCollection **ppFieldCollection) {
    return MethodFrame(L"CQarnUtilities::ReadTextFile", [&]() -> HRESULT {
        OutParam(ppFieldCollection);
        if (!fileName || !*fileName) return S_FALSE;
        const std::optional<std::string> bytes = ReadFileContent(fileName);
        if (!bytes) return S_OK;
        ComPtr<IFieldCollection> lines = objects_.New<IFieldCollection>(CLSID_FieldCollection);
        AppendLineFields(objects_, *bytes, text::SplitTextModeLines(*bytes), lines.Get());
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
