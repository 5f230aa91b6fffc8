// TypeLibReference: writes the Markdown reference of our type libraries.
//
//   TypeLibReference <output.md> <subsystems.md> [--registry <folder>]... <library.tlb>...
//
// Every library is read with LoadTypeLibEx(REGKIND_NONE), so nothing is registered. All libraries
// are loaded before any of them is read, so that a library importing another one finds it among
// the loaded ones. ProgIDs are not part of a type library: they come from the registration
// scripts (*.rgs) in the --registry folders. The hand-written text and the grouping of classes and
// members come from <subsystems.md> (see the comment at its top).
//
// Exit codes: 0 written, 1 bad arguments or input, 2 a type library cannot be read.

#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cwchar>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Failure : std::runtime_error {
    int code;
    Failure(int c, const std::string& text) : std::runtime_error(text), code(c) {}
};

std::string Utf8(const std::wstring& text)
{
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), out.data(), n, nullptr, nullptr);
    return out;
}

std::string HrText(HRESULT hr)
{
    char code[16];
    snprintf(code, sizeof code, "0x%08lX", (unsigned long)hr);
    wchar_t* message = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, (DWORD)hr, 0, (LPWSTR)&message, 0, nullptr);
    std::string text = code;
    if (message) {
        std::wstring m = message;
        LocalFree(message);
        while (!m.empty() && (m.back() == L'\n' || m.back() == L'\r' || m.back() == L' ')) m.pop_back();
        if (!m.empty()) text += " (" + Utf8(m) + ")";
    }
    return text;
}

void Check(HRESULT hr, const std::string& what)
{
    if (FAILED(hr)) throw Failure(2, what + ": " + HrText(hr));
}

template <class T> struct Ptr {
    T* p = nullptr;
    Ptr() = default;
    Ptr(const Ptr&) = delete;
    Ptr& operator=(const Ptr&) = delete;
    Ptr(Ptr&& o) noexcept : p(o.p) { o.p = nullptr; }
    ~Ptr() { if (p) p->Release(); }
    T* operator->() const { return p; }
    T** operator&() { return &p; }
};

std::string ReadWholeFile(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw Failure(1, "cannot open " + Utf8(path) + ": " + HrText(HRESULT_FROM_WIN32(GetLastError())));
    std::string data;
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) data.append(buffer, got);
    CloseHandle(h);
    if (data.size() >= 3 && data.compare(0, 3, "\xEF\xBB\xBF") == 0) data.erase(0, 3);
    return data;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

std::string Trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

std::vector<std::string> Words(const std::string& s)
{
    std::vector<std::string> words;
    std::string word;
    for (char c : s + " ") {
        if (c == ' ' || c == ',' || c == '\t' || c == '`') {
            if (!word.empty()) words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    return words;
}

std::string Upper(std::string s)
{
    for (char& c : s) if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return s;
}

std::string Anchor(const std::string& title)
{
    std::string a;
    for (char c : title) {
        if ((c >= 'A' && c <= 'Z')) a += char(c - 'A' + 'a');
        else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_') a += c;
        else if (c == ' ') a += '-';
    }
    return a;
}

// Markdown table cells: no line breaks, "|" escaped.
std::string Cell(const std::string& s)
{
    std::string out;
    for (char c : s) {
        if (c == '|') out += "\\|";
        else if (c == '\n' || c == '\r') out += ' ';
        else out += c;
    }
    return out.empty() ? "—" : out;
}

// ---------------------------------------------------------------------------------------------
// Registration scripts: CLSID -> ProgID and version-independent ProgID.

struct ProgIds { std::string progId, independent; };

std::string QuotedValue(const std::string& line)
{
    size_t a = line.find(" s '");
    if (a == std::string::npos) return {};
    a += 4;
    size_t b = line.find('\'', a);
    return b == std::string::npos ? std::string() : line.substr(a, b - a);
}

void ReadRegistryScripts(const std::wstring& folder, std::map<std::string, ProgIds>& out)
{
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((folder + L"\\*.rgs").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) throw Failure(1, "no registration scripts (*.rgs) in " + Utf8(folder));
    do {
        std::string clsid;
        ProgIds ids;
        for (const std::string& raw : Lines(ReadWholeFile(folder + L"\\" + found.cFileName))) {
            std::string line = Trim(raw);
            size_t brace = line.find("ForceRemove {");
            if (brace != std::string::npos && clsid.empty()) {
                size_t end = line.find('}', brace);
                if (end != std::string::npos) clsid = Upper(line.substr(brace + 12, end - brace - 11));
            } else if (line.rfind("ProgID = s '", 0) == 0) {
                ids.progId = QuotedValue(line);
            } else if (line.rfind("VersionIndependentProgID = s '", 0) == 0) {
                ids.independent = QuotedValue(line);
            }
        }
        if (!clsid.empty()) out[clsid] = ids;
    } while (FindNextFileW(h, &found));
    FindClose(h);
}

// ---------------------------------------------------------------------------------------------
// The hand-written part: subsystems with their paragraphs, classes and member areas.
//
//   ## Title                       a subsystem
//   Classes: A, B                  coclasses documented in it
//   Libraries: L                   every coclass of the library L
//   | <Class> area | members | explained in |   header of an area table; each row: area name,
//   | Area | Name1 Prefix* | page.md#anchor |   member names (a trailing "*" matches every member
//                                              starting with the prefix), the section explaining them
//   Explained: Class page.md#anchor  the section that explains the members of a class of "Classes:"
//   anything else                  paragraph text, copied as written

struct Area {
    std::string subsystem, name;
    std::vector<std::string> patterns;
    std::set<std::string> matched;  // patterns that matched at least one member
    std::string see;                // the section that explains the members
};

struct Subsystem {
    std::string title;
    std::vector<std::string> classes, libraries, text;
};

struct Text {
    std::vector<std::string> intro;
    std::vector<Subsystem> subsystems;
    std::map<std::string, std::vector<Area>> areas;  // class name -> areas in file order
    std::map<std::string, std::string> explained;    // class name -> the section explaining its members
};

Text ReadText(const std::wstring& path)
{
    Text text;
    std::string areaClass;
    bool inComment = false;
    int number = 0;
    for (const std::string& line : Lines(ReadWholeFile(path))) {
        ++number;
        std::string t = Trim(line);
        if (inComment || t.rfind("<!--", 0) == 0) {
            inComment = t.find("-->") == std::string::npos;
            continue;
        }
        if (t.rfind("## ", 0) == 0) {
            text.subsystems.push_back({Trim(t.substr(3)), {}, {}, {}});
            areaClass.clear();
            continue;
        }
        if (text.subsystems.empty()) {
            text.intro.push_back(line);
            continue;
        }
        Subsystem& s = text.subsystems.back();
        if (t.rfind("Classes:", 0) == 0) {
            for (auto& w : Words(t.substr(8))) s.classes.push_back(w);
        } else if (t.rfind("Explained:", 0) == 0) {
            std::vector<std::string> words = Words(t.substr(10));
            if (words.size() != 2)
                throw Failure(1, Utf8(path) + ":" + std::to_string(number) + ": \"Explained:\" needs a class and a link");
            text.explained[words[0]] = words[1];
        } else if (t.rfind("Libraries:", 0) == 0) {
            for (auto& w : Words(t.substr(10))) s.libraries.push_back(w);
        } else if (t.rfind("|", 0) == 0) {
            std::vector<std::string> cells;
            size_t start = 1;
            for (size_t bar; (bar = t.find('|', start)) != std::string::npos; start = bar + 1)
                cells.push_back(Trim(t.substr(start, bar - start)));
            if (cells.size() != 2 && cells.size() != 3)
                throw Failure(1, Utf8(path) + ":" + std::to_string(number) + ": an area row needs two or three cells");
            if (cells[0].find_first_not_of("-: ") == std::string::npos) continue;
            size_t word = cells[0].find(" area");
            if (word != std::string::npos && word + 5 == cells[0].size()) {
                areaClass = Trim(cells[0].substr(0, word));
                continue;
            }
            if (areaClass.empty())
                throw Failure(1, Utf8(path) + ":" + std::to_string(number) + ": area row before a \"<Class> area\" header");
            if (cells.size() != 3 || cells[2].empty())
                throw Failure(1, Utf8(path) + ":" + std::to_string(number) + ": area " + cells[0] + " names no section that explains it");
            text.areas[areaClass].push_back({s.title, cells[0], Words(cells[1]), {}, cells[2]});
        } else {
            s.text.push_back(line);
        }
    }
    for (Subsystem& s : text.subsystems) {
        while (!s.text.empty() && Trim(s.text.front()).empty()) s.text.erase(s.text.begin());
        while (!s.text.empty() && Trim(s.text.back()).empty()) s.text.pop_back();
    }
    while (!text.intro.empty() && Trim(text.intro.back()).empty()) text.intro.pop_back();
    return text;
}

// ---------------------------------------------------------------------------------------------
// Type information.

std::string GuidText(const GUID& g)
{
    wchar_t buffer[64];
    StringFromGUID2(g, buffer, 64);
    return Utf8(buffer);
}

struct Doc { std::string name, help; };

Doc Documentation(ITypeInfo* ti, MEMBERID id)
{
    BSTR name = nullptr, help = nullptr;
    Doc d;
    if (SUCCEEDED(ti->GetDocumentation(id, &name, &help, nullptr, nullptr))) {
        if (name) d.name = Utf8(std::wstring(name, SysStringLen(name)));
        if (help) d.help = Utf8(std::wstring(help, SysStringLen(help)));
    }
    SysFreeString(name);
    SysFreeString(help);
    return d;
}

std::string TypeName(ITypeInfo* ti, const TYPEDESC& td, int depth = 0)
{
    if (depth > 16) return "?";
    switch (td.vt) {
    case VT_PTR: return TypeName(ti, *td.lptdesc, depth + 1) + "*";
    case VT_SAFEARRAY: return "SAFEARRAY(" + TypeName(ti, *td.lptdesc, depth + 1) + ")";
    case VT_CARRAY: {
        std::string s = TypeName(ti, td.lpadesc->tdescElem, depth + 1);
        for (USHORT i = 0; i < td.lpadesc->cDims; ++i) s += "[" + std::to_string(td.lpadesc->rgbounds[i].cElements) + "]";
        return s;
    }
    case VT_USERDEFINED: {
        Ptr<ITypeInfo> ref;
        if (FAILED(ti->GetRefTypeInfo(td.hreftype, &ref))) return "?";
        return Documentation(ref.p, MEMBERID_NIL).name;
    }
    case VT_EMPTY: return "void";
    case VT_VOID: return "void";
    case VT_I1: return "char";
    case VT_UI1: return "unsigned char";
    case VT_I2: return "short";
    case VT_UI2: return "unsigned short";
    case VT_I4: return "long";
    case VT_UI4: return "unsigned long";
    case VT_I8: return "hyper";
    case VT_UI8: return "unsigned hyper";
    case VT_INT: return "int";
    case VT_UINT: return "unsigned int";
    case VT_R4: return "float";
    case VT_R8: return "double";
    case VT_CY: return "CURRENCY";
    case VT_DATE: return "DATE";
    case VT_BSTR: return "BSTR";
    case VT_DISPATCH: return "IDispatch*";
    case VT_UNKNOWN: return "IUnknown*";
    case VT_ERROR: return "SCODE";
    case VT_BOOL: return "VARIANT_BOOL";
    case VT_VARIANT: return "VARIANT";
    case VT_DECIMAL: return "DECIMAL";
    case VT_HRESULT: return "HRESULT";
    case VT_LPSTR: return "LPSTR";
    case VT_LPWSTR: return "LPWSTR";
    default: return "VT_" + std::to_string(td.vt);
    }
}

std::string ValueText(const VARIANT& v)
{
    if (V_VT(&v) == VT_BSTR) return "\"" + Utf8(V_BSTR(&v) ? V_BSTR(&v) : L"") + "\"";
    if (V_VT(&v) == VT_BOOL) return V_BOOL(&v) ? "True" : "False";
    VARIANT copy;
    VariantInit(&copy);
    std::string s = "?";
    if (SUCCEEDED(VariantChangeTypeEx(&copy, const_cast<VARIANT*>(&v), MAKELCID(0x409, SORT_DEFAULT), 0, VT_BSTR)))
        s = Utf8(V_BSTR(&copy) ? V_BSTR(&copy) : L"");
    VariantClear(&copy);
    return s;
}

struct Member {
    MEMBERID id;
    std::string name, kind, params, returns, help;
};

struct Interface {
    std::string name, help, iid, base, flags;
    std::vector<Member> members;
};

Interface ReadInterface(ITypeInfo* listed)
{
    Interface itf;
    Doc doc = Documentation(listed, MEMBERID_NIL);
    itf.name = doc.name;
    itf.help = doc.help;

    // A dual interface is listed as its dispinterface: its members are read from the vtable half.
    Ptr<ITypeInfo> dualPart;
    ITypeInfo* ti = listed;
    TYPEATTR* attr = nullptr;
    Check(listed->GetTypeAttr(&attr), "GetTypeAttr of " + itf.name);
    bool dual = (attr->wTypeFlags & TYPEFLAG_FDUAL) != 0;
    bool dispOnly = attr->typekind == TKIND_DISPATCH && !dual;
    itf.iid = GuidText(attr->guid);
    std::vector<std::string> flags;
    if (dual) flags.push_back("dual");
    if (dispOnly) flags.push_back("dispinterface");
    if (attr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION) flags.push_back("oleautomation");
    if (attr->wTypeFlags & TYPEFLAG_FHIDDEN) flags.push_back("hidden");
    if (attr->wTypeFlags & TYPEFLAG_FRESTRICTED) flags.push_back("restricted");
    for (size_t i = 0; i < flags.size(); ++i) itf.flags += (i ? ", " : "") + flags[i];
    if (attr->typekind == TKIND_DISPATCH && dual) {
        HREFTYPE href;
        if (SUCCEEDED(listed->GetRefTypeOfImplType(-1, &href)) && SUCCEEDED(listed->GetRefTypeInfo(href, &dualPart)))
            ti = dualPart.p;
    }
    listed->ReleaseTypeAttr(attr);

    Check(ti->GetTypeAttr(&attr), "GetTypeAttr of " + itf.name);
    WORD funcs = attr->cFuncs;
    if (attr->cImplTypes > 0) {
        HREFTYPE href;
        Ptr<ITypeInfo> base;
        if (SUCCEEDED(ti->GetRefTypeOfImplType(0, &href)) && SUCCEEDED(ti->GetRefTypeInfo(href, &base)))
            itf.base = Documentation(base.p, MEMBERID_NIL).name;
        else
            itf.base = "?";
    }
    ti->ReleaseTypeAttr(attr);

    for (WORD f = 0; f < funcs; ++f) {
        FUNCDESC* fd = nullptr;
        Check(ti->GetFuncDesc(f, &fd), "GetFuncDesc of " + itf.name);
        // In a dispinterface the inherited IUnknown and IDispatch members are listed too.
        if (dispOnly && (fd->wFuncFlags & FUNCFLAG_FRESTRICTED) && fd->memid >= 0x60000000) {
            ti->ReleaseFuncDesc(fd);
            continue;
        }
        Member m;
        m.id = fd->memid;
        Doc md = Documentation(ti, fd->memid);
        m.help = md.help;

        BSTR names[64] = {};
        UINT count = 0;
        ti->GetNames(fd->memid, names, 64, &count);
        m.name = count ? Utf8(names[0] ? names[0] : L"") : md.name;

        switch (fd->invkind) {
        case INVOKE_PROPERTYGET: m.kind = "propget"; break;
        case INVOKE_PROPERTYPUT: m.kind = "propput"; break;
        case INVOKE_PROPERTYPUTREF: m.kind = "propputref"; break;
        default: m.kind = "method"; break;
        }
        std::vector<std::string> mflags;
        if (fd->wFuncFlags & FUNCFLAG_FRESTRICTED) mflags.push_back("restricted");
        if (fd->wFuncFlags & FUNCFLAG_FHIDDEN) mflags.push_back("hidden");
        if (!mflags.empty()) {
            m.kind += " (";
            for (size_t i = 0; i < mflags.size(); ++i) m.kind += (i ? ", " : "") + mflags[i];
            m.kind += ")";
        }

        bool isPut = fd->invkind == INVOKE_PROPERTYPUT || fd->invkind == INVOKE_PROPERTYPUTREF;
        std::string params;
        for (SHORT p = 0; p < fd->cParams; ++p) {
            const ELEMDESC& e = fd->lprgelemdescParam[p];
            USHORT pf = e.paramdesc.wParamFlags;
            std::string type = TypeName(ti, e.tdesc);
            if (pf & PARAMFLAG_FRETVAL) {
                m.returns = e.tdesc.vt == VT_PTR ? TypeName(ti, *e.tdesc.lptdesc) : type;
                continue;
            }
            std::vector<std::string> pflags;
            if (pf & PARAMFLAG_FIN) pflags.push_back("in");
            if (pf & PARAMFLAG_FOUT) pflags.push_back("out");
            if (pf & PARAMFLAG_FLCID) pflags.push_back("lcid");
            if ((pf & PARAMFLAG_FOPT) || (fd->cParamsOpt > 0 && p >= fd->cParams - fd->cParamsOpt))
                pflags.push_back("optional");
            if (fd->cParamsOpt == -1 && p == fd->cParams - 1) pflags.push_back("vararg");
            std::string text = "[";
            for (size_t i = 0; i < pflags.size(); ++i) text += (i ? ", " : "") + pflags[i];
            text += "] " + type + " ";
            // The right-hand side of a property assignment has no name of its own.
            bool rightHandSide = isPut && p == fd->cParams - 1;
            if (rightHandSide) text += "value";
            else if ((UINT)p + 1 < count && names[p + 1]) text += Utf8(names[p + 1]);
            else text += "arg" + std::to_string(p + 1);
            if ((pf & PARAMFLAG_FHASDEFAULT) && e.paramdesc.pparamdescex)
                text += " = " + ValueText(e.paramdesc.pparamdescex->varDefaultValue);
            params += (params.empty() ? "" : ", ") + text;
        }
        for (UINT i = 0; i < count; ++i) SysFreeString(names[i]);
        m.params = params;
        if (m.returns.empty()) {
            std::string ret = TypeName(ti, fd->elemdescFunc.tdesc);
            if (ret != "HRESULT" && ret != "void") m.returns = ret;
        }
        ti->ReleaseFuncDesc(fd);
        itf.members.push_back(m);
    }
    return itf;
}

struct Coclass {
    std::string name, help, clsid, library;
    std::vector<std::pair<std::string, bool>> interfaces;  // name, default
    bool documented = false;
};

struct Library {
    std::wstring path;
    Ptr<ITypeLib> lib;
    std::string name, help, guid, version, lcid;
    std::vector<Coclass> classes;
    std::map<std::string, Interface> interfaces;
    std::vector<std::string> interfaceOrder;
    std::vector<std::string> others;  // type infos that are neither classes nor interfaces
};

void ReadLibrary(Library& l)
{
    ITypeLib* lib = l.lib.p;
    BSTR name = nullptr, help = nullptr;
    lib->GetDocumentation(-1, &name, &help, nullptr, nullptr);
    l.name = name ? Utf8(name) : "?";
    l.help = help ? Utf8(help) : "";
    SysFreeString(name);
    SysFreeString(help);
    TLIBATTR* la = nullptr;
    Check(lib->GetLibAttr(&la), "GetLibAttr of " + Utf8(l.path));
    l.guid = GuidText(la->guid);
    l.version = std::to_string(la->wMajorVerNum) + "." + std::to_string(la->wMinorVerNum);
    l.lcid = std::to_string(la->lcid);
    lib->ReleaseTLibAttr(la);

    UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        Ptr<ITypeInfo> ti;
        Check(lib->GetTypeInfo(i, &ti), "GetTypeInfo of " + l.name);
        TYPEATTR* attr = nullptr;
        Check(ti->GetTypeAttr(&attr), "GetTypeAttr in " + l.name);
        TYPEKIND kind = attr->typekind;
        GUID guid = attr->guid;
        WORD impl = attr->cImplTypes;
        ti->ReleaseTypeAttr(attr);
        Doc doc = Documentation(ti.p, MEMBERID_NIL);
        if (kind == TKIND_COCLASS) {
            Coclass c{doc.name, doc.help, GuidText(guid), l.name, {}};
            for (WORD k = 0; k < impl; ++k) {
                HREFTYPE href;
                INT implFlags = 0;
                Ptr<ITypeInfo> ref;
                Check(ti->GetRefTypeOfImplType(k, &href), "interfaces of " + c.name);
                Check(ti->GetRefTypeInfo(href, &ref), "interfaces of " + c.name);
                ti->GetImplTypeFlags(k, &implFlags);
                c.interfaces.push_back({Documentation(ref.p, MEMBERID_NIL).name, (implFlags & IMPLTYPEFLAG_FDEFAULT) != 0});
            }
            l.classes.push_back(c);
        } else if (kind == TKIND_INTERFACE || kind == TKIND_DISPATCH) {
            Interface itf = ReadInterface(ti.p);
            l.interfaceOrder.push_back(itf.name);
            l.interfaces[itf.name] = itf;
        } else {
            l.others.push_back(doc.name);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Output.

struct Writer {
    std::string out;
    void Line(const std::string& s = "") { out += s + "\n"; }
};

// One row per member; the member's name links to the section that explains it, when one is given.
void MemberTable(Writer& w, const std::vector<const Member*>& members, const std::string& see)
{
    w.Line("| DISPID | member | kind | parameters | returns | description |");
    w.Line("|---|---|---|---|---|---|");
    for (const Member* m : members) {
        char id[16];
        snprintf(id, sizeof id, "0x%lX", (unsigned long)(ULONG)m->id);
        const std::string name = see.empty() ? "`" + m->name + "`" : "[`" + m->name + "`](" + see + ")";
        w.Line(std::string("| ") + id + " | " + name + " | " + m->kind + " | " + Cell(m->params) + " | " +
               Cell(m->returns) + " | " + Cell(m->help) + " |");
    }
}

bool Matches(const std::string& pattern, const std::string& name)
{
    if (!pattern.empty() && pattern.back() == '*')
        return name.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
    return pattern == name;
}

// Assigns each member of the interface to an area: a name written out wins over a prefix, and the
// first prefix in file order wins over later ones. Every member needs an area.
std::map<std::string, std::vector<const Member*>> Group(const Interface& itf, std::vector<Area>& areas,
                                                        const std::string& className)
{
    std::map<std::string, std::vector<const Member*>> groups;
    for (const Member& m : itf.members) {
        Area* chosen = nullptr;
        for (Area& a : areas)
            for (const std::string& p : a.patterns)
                if (p == m.name) { if (!chosen) chosen = &a; a.matched.insert(p); }
        if (!chosen)
            for (Area& a : areas)
                for (const std::string& p : a.patterns)
                    if (p.back() == '*' && Matches(p, m.name)) {
                        if (!chosen) chosen = &a;
                        a.matched.insert(p);
                    }
        if (!chosen)
            throw Failure(1, "member " + className + "." + m.name + " has no area in the subsystems text");
        groups[chosen->name].push_back(&m);
    }
    for (const Area& a : areas)
        for (const std::string& p : a.patterns)
            if (!a.matched.count(p))
                throw Failure(1, "area \"" + a.name + "\" of " + className + " names \"" + p + "\", which is no member");
    return groups;
}

void WriteClass(Writer& w, const Coclass& c, Library& l, const std::map<std::string, ProgIds>& progIds,
                const Text& text)
{
    w.Line("### " + c.name);
    w.Line();
    if (!c.help.empty()) { w.Line(c.help); w.Line(); }
    auto pid = progIds.find(Upper(c.clsid));
    std::string progId = "— (not registered by ProgID)";
    if (pid != progIds.end() && !pid->second.progId.empty()) {
        progId = "`" + pid->second.progId + "`";
        if (!pid->second.independent.empty()) progId += ", version-independent `" + pid->second.independent + "`";
    }
    w.Line("| | |");
    w.Line("|---|---|");
    w.Line("| ProgID | " + progId + " |");
    w.Line("| CLSID | `" + c.clsid + "` |");
    std::string itfs;
    for (auto& [name, isDefault] : c.interfaces)
        itfs += (itfs.empty() ? "" : ", ") + ("`" + name + "`") + (isDefault ? " (default)" : "");
    w.Line("| interfaces | " + Cell(itfs) + " |");
    w.Line();
    for (auto& [name, isDefault] : c.interfaces) {
        auto found = l.interfaces.find(name);
        if (found == l.interfaces.end()) continue;
        const Interface& itf = found->second;
        std::string head = "Interface `" + itf.name + "`, IID `" + itf.iid + "`";
        if (!itf.flags.empty()) head += ", " + itf.flags;
        if (!itf.base.empty()) head += ", based on `" + itf.base + "`";
        head += ": " + (itf.help.empty() ? std::string("—") : itf.help) + ".";
        w.Line(head);
        w.Line();
        if (itf.members.empty()) {
            w.Line("No members.");
            w.Line();
            continue;
        }
        auto areas = text.areas.find(c.name);
        if (areas != text.areas.end() && isDefault) {
            std::string list;
            for (const Area& a : areas->second)
                list += (list.empty() ? "" : ", ") + ("[" + a.name + "](#" + Anchor(c.name + ": " + a.name) + ")");
            w.Line("Its " + std::to_string(itf.members.size()) + " members are listed by area in the subsystems: " + list + ".");
            w.Line();
            continue;
        }
        std::vector<const Member*> all;
        for (const Member& m : itf.members) all.push_back(&m);
        auto see = text.explained.find(c.name);
        MemberTable(w, all, see == text.explained.end() ? std::string() : see->second);
        w.Line();
    }
}

// A library that imports another one finds it through the registry or by its file name, which
// would register it as a side effect. An activation context that names the given libraries makes
// the import resolve to the file given here, by its full path, so nothing is registered. The
// context's files are looked for beside its manifest: a temporary file in the libraries' folder.
void ResolveImportsAmong(std::vector<Library>& libraries)
{
    std::string manifest =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\n"
        "  <assemblyIdentity type=\"win32\" name=\"TypeLibReference.Libraries\" version=\"1.0.0.0\"/>\n";
    std::wstring folder;
    for (Library& l : libraries) {
        TLIBATTR* la = nullptr;
        Check(l.lib->GetLibAttr(&la), "GetLibAttr of " + Utf8(l.path));
        size_t slash = l.path.find_last_of(L"\\/");
        std::wstring file = slash == std::wstring::npos ? l.path : l.path.substr(slash + 1);
        std::wstring here = slash == std::wstring::npos ? L"." : l.path.substr(0, slash);
        if (!folder.empty() && _wcsicmp(here.c_str(), folder.c_str()) != 0)
            throw Failure(1, "the type libraries must lie in one folder");
        folder = here;
        manifest += "  <file name=\"" + Utf8(file) + "\"><typelib tlbid=\"" + GuidText(la->guid) + "\" version=\"" +
                    std::to_string(la->wMajorVerNum) + "." + std::to_string(la->wMinorVerNum) + "\" helpdir=\"\"/></file>\n";
        l.lib->ReleaseTLibAttr(la);
    }
    manifest += "</assembly>\n";

    wchar_t path[MAX_PATH];
    if (!GetTempFileNameW(folder.c_str(), L"tlr", 0, path))
        throw Failure(1, "cannot create a temporary file: " + HrText(HRESULT_FROM_WIN32(GetLastError())));
    HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    bool ok = h != INVALID_HANDLE_VALUE && WriteFile(h, manifest.data(), (DWORD)manifest.size(), &written, nullptr);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    ACTCTXW context = {sizeof context};
    context.lpSource = path;
    HANDLE actctx = ok ? CreateActCtxW(&context) : INVALID_HANDLE_VALUE;
    DWORD error = GetLastError();
    DeleteFileW(path);
    ULONG_PTR cookie = 0;
    if (actctx == INVALID_HANDLE_VALUE || !ActivateActCtx(actctx, &cookie))
        throw Failure(1, "cannot set up the lookup of imported libraries: " + HrText(HRESULT_FROM_WIN32(error)));
}

void Run(int argc, wchar_t** argv)
{
    if (argc < 4)
        throw Failure(1, "usage: TypeLibReference <output.md> <subsystems.md> [--registry <folder>]... <library.tlb>...");
    std::wstring output = argv[1];
    Text text = ReadText(argv[2]);
    std::map<std::string, ProgIds> progIds;
    std::vector<Library> libraries;
    for (int i = 3; i < argc; ++i) {
        if (wcscmp(argv[i], L"--registry") == 0) {
            if (++i >= argc) throw Failure(1, "--registry needs a folder");
            ReadRegistryScripts(argv[i], progIds);
        } else {
            libraries.emplace_back();
            libraries.back().path = argv[i];
        }
    }
    if (libraries.empty()) throw Failure(1, "no type library given");
    for (Library& l : libraries) {
        if (GetFileAttributesW(l.path.c_str()) == INVALID_FILE_ATTRIBUTES)
            throw Failure(2, "cannot load the type library " + Utf8(l.path) + ": the file does not exist");
        HRESULT hr = LoadTypeLibEx(l.path.c_str(), REGKIND_NONE, &l.lib);
        if (FAILED(hr))
            throw Failure(2, "cannot load the type library " + Utf8(l.path) + ": " + HrText(hr) +
                                 (hr == TYPE_E_CANTLOADLIBRARY ? ", the file is not a type library" : ""));
    }
    ResolveImportsAmong(libraries);
    for (Library& l : libraries) ReadLibrary(l);

    std::map<std::string, Coclass*> classByName;
    for (Library& l : libraries)
        for (Coclass& c : l.classes) classByName[c.name] = &c;

    // Member areas of the classes whose default interface is split up.
    std::map<std::string, std::map<std::string, std::vector<const Member*>>> grouped;
    for (auto& [className, areas] : text.areas) {
        auto c = classByName.find(className);
        if (c == classByName.end()) throw Failure(1, "area table for " + className + ", which is no class");
        const Interface* itf = nullptr;
        for (Library& l : libraries)
            for (auto& [name, isDefault] : c->second->interfaces)
                if (isDefault && l.interfaces.count(name)) itf = &l.interfaces[name];
        if (!itf) throw Failure(1, "class " + className + " has no default interface in the libraries given");
        grouped[className] = Group(*itf, areas, className);
    }

    Writer w;
    w.Line("<!-- Generated by docs/generator/TypeLibReference.cpp from the compiled type libraries, the");
    w.Line("     registration scripts and docs/generator/subsystems.md. Do not edit this file: the build");
    w.Line("     rewrites it. -->");
    w.Line();
    w.Line("# Reference of the type libraries");
    w.Line();
    for (const std::string& line : text.intro) w.Line(line);
    w.Line();
    for (Library& l : libraries) {
        std::string line = "- `" + l.name + "` " + l.version + ", `" + l.guid + "`, locale " + l.lcid;
        if (!l.help.empty()) line += ": " + l.help;
        w.Line(line + " (" + std::to_string(l.classes.size()) + " classes, " + std::to_string(l.interfaces.size()) + " interfaces)");
    }
    w.Line();
    w.Line("## Contents");
    w.Line();
    for (const Subsystem& s : text.subsystems) w.Line("- [" + s.title + "](#" + Anchor(s.title) + ")");
    w.Line();

    for (const Subsystem& s : text.subsystems) {
        w.Line("## " + s.title);
        w.Line();
        for (const std::string& line : s.text) w.Line(line);
        w.Line();
        for (const std::string& name : s.classes) {
            auto c = classByName.find(name);
            if (c != classByName.end() && !text.explained.count(name) && !text.areas.count(name))
                throw Failure(1, "class " + name + " has no \"Explained:\" line naming the section that explains its members");
        }
        std::vector<std::string> names = s.classes;
        for (const std::string& libName : s.libraries) {
            bool known = false;
            for (Library& l : libraries)
                if (l.name == libName) {
                    known = true;
                    for (Coclass& c : l.classes) names.push_back(c.name);
                }
            if (!known) throw Failure(1, "subsystem \"" + s.title + "\" names the library " + libName + ", which was not given");
        }
        for (const std::string& name : names) {
            auto c = classByName.find(name);
            if (c == classByName.end()) throw Failure(1, "subsystem \"" + s.title + "\" names " + name + ", which is no class");
            if (c->second->documented) throw Failure(1, "class " + name + " is named by two subsystems");
            c->second->documented = true;
            for (Library& l : libraries)
                if (l.name == c->second->library) WriteClass(w, *c->second, l, progIds, text);
        }
        for (auto& [className, areas] : text.areas)
            for (const Area& a : areas) {
                if (a.subsystem != s.title) continue;
                w.Line("### " + className + ": " + a.name);
                w.Line();
                auto g = grouped[className].find(a.name);
                if (g == grouped[className].end()) w.Line("No members.");
                else MemberTable(w, g->second, a.see);
                w.Line();
            }
    }
    for (auto& [name, c] : classByName)
        if (!c->documented) throw Failure(1, "class " + name + " is named by no subsystem");

    // Interfaces that no class implements, and other type infos, are listed so nothing is left out.
    for (Library& l : libraries) {
        std::set<std::string> implemented;
        for (Coclass& c : l.classes)
            for (auto& [name, isDefault] : c.interfaces) implemented.insert(name);
        std::vector<const Interface*> loose;
        for (const std::string& name : l.interfaceOrder)
            if (!implemented.count(name)) loose.push_back(&l.interfaces[name]);
        if (loose.empty() && l.others.empty()) continue;
        w.Line("## Further types of " + l.name);
        w.Line();
        for (const Interface* itf : loose) {
            w.Line("### " + itf->name);
            w.Line();
            w.Line("IID `" + itf->iid + "`" + (itf->base.empty() ? "" : ", based on `" + itf->base + "`") + ": " + Cell(itf->help) + ".");
            w.Line();
            std::vector<const Member*> all;
            for (const Member& m : itf->members) all.push_back(&m);
            if (all.empty()) w.Line("No members."); else MemberTable(w, all, "");
            w.Line();
        }
        for (const std::string& name : l.others) w.Line("- `" + name + "`");
        if (!l.others.empty()) w.Line();
    }
    while (w.out.size() >= 2 && w.out[w.out.size() - 1] == '\n' && w.out[w.out.size() - 2] == '\n') w.out.pop_back();

    HANDLE h = CreateFileW(output.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw Failure(1, "cannot write " + Utf8(output) + ": " + HrText(HRESULT_FROM_WIN32(GetLastError())));
    DWORD written = 0;
    BOOL ok = WriteFile(h, w.out.data(), (DWORD)w.out.size(), &written, nullptr);
    CloseHandle(h);
    if (!ok || written != w.out.size()) throw Failure(1, "cannot write " + Utf8(output));
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int code = 0;
    try {
        Run(argc, argv);
    } catch (const Failure& f) {
        fprintf(stderr, "TypeLibReference: %s\n", f.what());
        code = f.code;
    } catch (const std::exception& e) {
        fprintf(stderr, "TypeLibReference: %s\n", e.what());
        code = 1;
    }
    if (SUCCEEDED(hr)) CoUninitialize();
    return code;
}
