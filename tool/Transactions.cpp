// list-transactions FILE and show-transaction FILE ALIAS.
#include <algorithm>
#include <set>

#include "Commands.h"
#include "ToolSupport.h"

namespace tool {

namespace {

ComPtr<IDispatch> ParseFile(IQarnUtilities* u, const std::wstring& path) {
    ComPtr<IDispatch> dom;
    Check(DomParse(u, path, dom), L"cannot read " + path);
    if (!dom) throw Failure(L"cannot read " + path + L": the parser returned no document");
    return dom;
}

struct Declaration {
    std::wstring alias;
    std::wstring attributes;
    std::wstring contents;
    bool duplicate = false;
};

// The transactions of a parsed transaction file in document order.
std::vector<Declaration> Declarations(IDispatch* dom, const std::wstring& path) {
    ComPtr<IXMLDOMElement> root;
    AsDocument(dom)->get_documentElement(&root);
    if (!root || NodeName(root.Get()) != L"Qarn")
        throw Failure(path + L" is not a transaction file: its document element is <" + NodeName(root.Get()) +
                      L">, expected <Qarn>");
    std::vector<Declaration> result;
    std::set<std::wstring> seen;
    const ComPtr<IXMLDOMNodeList> transactions = SelectNodes(root.Get(), L"Transaction");
    long n = 0;
    if (transactions) transactions->get_length(&n);
    for (long i = 0; i < n; ++i) {
        ComPtr<IXMLDOMNode> t;
        if (transactions->get_item(i, &t) != S_OK) continue;
        Declaration d;
        d.alias = NodeText(SelectNode(t.Get(), L"Aliasname").Get());
        d.duplicate = !seen.insert(d.alias).second;
        const ComPtr<IXMLDOMNode> parameter = SelectNode(t.Get(), L"Import/Parameter");
        if (!parameter) {
            d.contents = L"no Import/Parameter element";
        } else {
            d.attributes = NodeAttributes(parameter.Get());
            auto count = [&](const wchar_t* xpath, const wchar_t* one, const wchar_t* many) {
                const long c = NodeCount(parameter.Get(), xpath);
                return std::to_wstring(c) + L' ' + (c == 1 ? one : many);
            };
            d.contents = count(L"FieldCollection/Field", L"field", L"fields") + L", " +
                         count(L"StructureCollection/Structure", L"structure", L"structures") + L", " +
                         count(L"TableCollection/Table", L"table", L"tables");
            if (SelectNode(parameter.Get(), L"PreAction")) d.contents += L", pre-event";
            if (SelectNode(parameter.Get(), L"PostAction")) d.contents += L", post-event";
        }
        result.push_back(std::move(d));
    }
    return result;
}

bool Declares(const std::vector<Declaration>& list, const std::wstring& alias) {
    return std::any_of(list.begin(), list.end(), [&](const Declaration& d) { return d.alias == alias; });
}

std::wstring Padded(std::wstring text, size_t width) {
    if (text.size() < width) text.resize(width, L' ');
    return text;
}

// ---- printing a parameter list ----

void PrintFields(IFieldCollection* fields, const std::wstring& indent) {
    for (long i = 1, n = FieldCount(fields); i <= n; ++i) {
        const ComPtr<IField> f = FieldAt(fields, i);
        std::wstring line = indent + FieldName(f.Get()) + L" = " + IndentLines(FieldText(f.Get()), indent + L"    ");
        ComPtr<IFieldCollection> attributes;
        if (f && SUCCEEDED(f->get_Attributes(&attributes)) && FieldCount(attributes.Get()) > 0)
            line += L"  [" + AttributeText(attributes.Get()) + L"]";
        OutLine(line);
    }
}

bool IsContextName(const std::wstring& name) {
    return name == L"source" || name == L"transaction" || name == L"isCustomerFile" || name == L"customerWarning";
}

void PrintList(IParameterList* list, const std::wstring& alias) {
    OutLine(L"Transaction " + alias);
    ComPtr<IFieldCollection> attributes;
    list->get_Attributes(&attributes);
    std::wstring context, own;
    for (long i = 1, n = FieldCount(attributes.Get()); i <= n; ++i) {
        const ComPtr<IField> f = FieldAt(attributes.Get(), i);
        const std::wstring name = FieldName(f.Get());
        const std::wstring value = name == L"customerWarning" ? WithoutTrace(FieldText(f.Get())) : FieldText(f.Get());
        const std::wstring line = L"  " + name + L" = " + IndentLines(value, L"      ") + L"\n";
        (IsContextName(name) ? context : own) += line;
    }
    Out(L"Context\n" + (context.empty() ? L"  (none)\n" : context));
    Out(L"Attributes\n" + (own.empty() ? L"  (none)\n" : own));

    ComPtr<IFieldCollection> fields;
    list->get_FieldCollection(&fields);
    OutLine(L"Fields (" + std::to_wstring(FieldCount(fields.Get())) + L")");
    PrintFields(fields.Get(), L"  ");

    ComPtr<IStructureCollection> structures;
    long structureCount = 0;
    if (SUCCEEDED(list->get_StructureCollection(&structures)) && structures) structures->get_Count(&structureCount);
    OutLine(L"Structures (" + std::to_wstring(structureCount) + L")");
    for (long i = 1; i <= structureCount; ++i) {
        ComPtr<IStructure> s;
        if (FAILED(structures->get_Item(i, &s)) || !s) continue;
        Bstr name;
        s->get_Name(name.Out());
        ComPtr<IFieldCollection> members;
        s->get_FieldCollection(&members);
        OutLine(L"  " + std::wstring(name.View()));
        PrintFields(members.Get(), L"    ");
    }

    ComPtr<ITableCollection> tables;
    long tableCount = 0;
    if (SUCCEEDED(list->get_TableCollection(&tables)) && tables) tables->get_Count(&tableCount);
    OutLine(L"Tables (" + std::to_wstring(tableCount) + L")");
    for (long i = 1; i <= tableCount; ++i) {
        ComPtr<ITable> t;
        if (FAILED(tables->get_Item(i, &t)) || !t) continue;
        Bstr name;
        t->get_Name(name.Out());
        ComPtr<IFieldCollectionTable> rows;
        long rowCount = 0;
        if (SUCCEEDED(t->get_FieldCollectionTable(&rows)) && rows) rows->get_Count(&rowCount);
        OutLine(L"  " + std::wstring(name.View()) + L" (" + std::to_wstring(rowCount) + (rowCount == 1 ? L" row)" : L" rows)"));
        for (long r = 1; r <= rowCount; ++r) {
            ComPtr<IFieldCollection> row;
            if (FAILED(rows->get_Item(r, &row))) continue;
            OutLine(L"    row " + std::to_wstring(r));
            PrintFields(row.Get(), L"      ");
        }
    }
}

}  // namespace

int ListTransactions(const Arguments& args) {
    if (args.size() != 1) WrongUse(L"list-transactions", args.empty() ? L"FILE is required" : L"too many arguments");
    const TransactionFile file = ResolveTransactionFile(args[0]);
    const ComPtr<IQarnUtilities> u = CreateUtilities();
    const std::vector<Declaration> regular = Declarations(ParseFile(u.Get(), file.path).Get(), file.path);

    std::vector<Declaration> customer;
    std::wstring customerNote = L"none (" + file.customerPath + L" does not exist)";
    if (FileExists(file.customerPath)) {
        try {
            customer = Declarations(ParseFile(u.Get(), file.customerPath).Get(), file.customerPath);
            customerNote = file.customerPath + L" (" + std::to_wstring(customer.size()) +
                           (customer.size() == 1 ? L" transaction)" : L" transactions)");
        } catch (const Failure& e) {
            customerNote = file.customerPath + L" cannot be read; the lookup falls back to the regular file";
            ErrLine(L"QarnTool: warning: " + e.message);
        }
    }

    OutLine(L"Transactions in " + file.path + L" (" + std::to_wstring(regular.size()) + L")");
    OutLine(L"Customer override file: " + customerNote);
    size_t width = 0;
    for (const Declaration& d : regular) width = std::max(width, d.alias.size());
    for (const Declaration& d : customer) width = std::max(width, d.alias.size());
    for (const Declaration& d : regular) {
        std::wstring line = L"  " + Padded(d.alias, width) + L"  " + d.contents;
        if (!d.attributes.empty()) line += L"  [" + d.attributes + L"]";
        line += Declares(customer, d.alias) ? L"  customer override: yes" : L"  customer override: no";
        if (d.duplicate) line += L"  (declared again: only the first declaration is used)";
        OutLine(line);
    }
    for (const Declaration& d : customer) {
        if (Declares(regular, d.alias) || d.duplicate) continue;
        std::wstring line = L"  " + Padded(d.alias, width) + L"  " + d.contents;
        if (!d.attributes.empty()) line += L"  [" + d.attributes + L"]";
        OutLine(line + L"  customer file only");
    }
    return 0;
}

int ShowTransaction(const Arguments& args) {
    if (args.size() != 2) WrongUse(L"show-transaction", args.size() < 2 ? L"FILE and ALIAS are required" : L"too many arguments");
    const TransactionFile file = ResolveTransactionFile(args[0]);
    const std::wstring& alias = args[1];
    SetRootVariable(file.lookupRoot);
    if (file.lookupFolder && !SetCurrentDirectoryW(file.lookupFolder->c_str()))
        throw Failure(ComErrorText(HRESULT_FROM_WIN32(GetLastError()), L"cannot open the folder " + *file.lookupFolder));

    const ComPtr<IQarnUtilities> u = CreateUtilities();
    // Properties and messages of the installation, as the application would hold them.
    const HRESULT read = u->ReadXmlConfigurationFiles();
    if (FAILED(read)) {
        const std::wstring reason = ComErrorText(read, L"");
        ErrLine(L"QarnTool: warning: the configuration was not read, properties stay empty" +
                reason.substr(0, reason.find(L'\n')) + L" (\"QarnTool check-config\" lists the problems)");
    }
    ComPtr<IParameterList> list;
    Check(u->GetXmlParameterList(Bstr(file.lookupName), Bstr(alias), nullptr, &list),
          L"cannot build the transaction " + alias + L" from " + file.path);
    if (!list) throw Failure(L"the transaction " + alias + L" gave no parameter list");
    PrintList(list.Get(), alias);
    return 0;
}

}  // namespace tool
