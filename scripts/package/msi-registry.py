#!/usr/bin/env python3
"""COM registration of the packages, taken from what DllRegisterServer writes: the MSIs' Registry
rows and the side-by-side assembly manifests of registration-free activation.

  capture <listing> <windows dir> <file> <before.reg> <after.reg> [<file> <before> <after>]...
      Compares Wine registry files (system.reg) taken before and after registering each file
      (in that order) and writes the keys and values added under HKCR as a listing: one row per
      line, tab-separated, paths of the registered files replaced by [#<file>] and their folder
      by [INSTALLDIR]. Rows:  key <file> <key> <mode>   (mode "*": created by the file and
      removed with everything below it; "+": an empty key of its own)
                              value <file> <key> <name> <type> <data>
  wxs <listing> <arch x64|x86> <version> <upgrade code> <output.wxs> <file>...
      Writes the WiX source of one package (run wixl in the folder of the files): the files,
      each its own component, the one that registered a row carrying it, and the rows as
      Registry entries. For x86 the type library paths go under "win32" instead of "win64" and
      the 64-bit system's 32-bit view (Wow6432Node) is left out: it is the package's own HKCR.
  installed <listing> <arch> <system.reg> <install dir (Windows form)>
      Prints the listing as found in an installed prefix, under the keys the listing creates,
      in the listing's own form; compare it with `expected`. For x86 the prefix's HKCR is read in
      the 32-bit view: a key under Wow6432Node stands for the key of the same name without it.
  expected <listing> <arch>
      Prints the listing as `installed` would print it for a correct installation.
  guids <listing>
      Prints every GUID and ProgID the listing creates keys for, one a line.
  manifest <listing> <arch x64|x86> <version> <file> <assembly> <output> [<dependency assembly>]...
      Writes the side-by-side assembly manifest of one registered file: its classes (CLSID,
      threading model, ProgIDs, type library), its type library and the proxy/stub entries of its
      interfaces, as the listing has them; the named assemblies become dependencies.
"""
import re
import sys
from xml.sax.saxutils import escape, quoteattr

CLASSES = "software\\classes\\"


class Failure(Exception):
    pass


# --- Wine registry files -------------------------------------------------------------------

def unescape(text, pos=0, end_char='"'):
    """Reads an escaped string from `text` at `pos` up to `end_char`; returns (string, next)."""
    out = []
    i = pos
    while i < len(text):
        c = text[i]
        if c == end_char:
            return "".join(out), i + 1
        if c == "\\" and i + 1 < len(text):
            n = text[i + 1]
            if n == "x":
                m = re.match(r"[0-9a-fA-F]{1,4}", text[i + 2:])
                if not m:
                    raise Failure(f"bad \\x escape in {text!r}")
                out.append(chr(int(m.group(0), 16)))
                i += 2 + len(m.group(0))
                continue
            out.append({"n": "\n", "r": "\r", "t": "\t", "0": "\0"}.get(n, n))
            i += 2
            continue
        out.append(c)
        i += 1
    raise Failure(f"unterminated string in {text!r}")


def parse_value(rest):
    """Type and data of a value's text after '='."""
    if rest.startswith('"'):
        return "string", unescape(rest, 1)[0]
    if rest.startswith('str(2):"'):
        return "expandable", unescape(rest, 8)[0]
    if rest.startswith("dword:"):
        return "integer", str(int(rest[6:], 16))
    return "other", rest  # binary and multi-string values: compared, never packaged


def read_registry(path):
    """{lower-case key: (key, {lower-case name: (name, type, data)})} of the HKCR keys of a Wine
    registry file."""
    keys = {}
    current = None
    try:
        with open(path, encoding="utf-8", errors="surrogateescape") as f:
            lines = f.read().split("\n")
    except OSError as e:
        raise Failure(f"cannot read {path}: {e.strerror}")
    i = 0
    while i < len(lines):
        line = lines[i]
        i += 1
        while line.endswith("\\") and i < len(lines):  # continued (long binary values)
            line = line[:-1] + lines[i].lstrip()
            i += 1
        if line.startswith("["):
            name, _ = unescape(line, 1, "]")
            current = None
            if name.lower().startswith(CLASSES):  # the rest of the machine is not read
                current = (name, {})
                keys[name.lower()] = current
        elif current is None or not line or line[0] in "#;":
            continue
        elif line.startswith("@="):
            current[1][""] = ("",) + parse_value(line[2:])
        elif line.startswith('"'):
            name, nxt = unescape(line, 1)
            if nxt >= len(line) or line[nxt] != "=":
                raise Failure(f"bad value line in {path}: {line[:60]!r}")
            current[1][name.lower()] = (name,) + parse_value(line[nxt + 1:])
    # Wine writes a key without values only when it has no subkeys: its parents are implied.
    for low, (name, _) in list(keys.items()):
        parts, lows = name.split("\\"), low.split("\\")
        for n in range(1, len(parts)):
            keys.setdefault("\\".join(lows[:n]), ("\\".join(parts[:n]), {}))
    return keys


def classes_only(keys):
    """The keys relative to HKCR (the 32-bit view of a 64-bit system under Wow6432Node)."""
    return {k[len(CLASSES):]: (v[0][len(CLASSES):], v[1]) for k, v in keys.items()
            if k.startswith(CLASSES)}


# --- listings ------------------------------------------------------------------------------

def to_placeholders(data, paths, folder):
    """Registered paths become [#file], their folder [INSTALLDIR] (which ends in a backslash)."""
    for file_id, path in paths.items():
        data = re.sub(re.escape(path), lambda m: f"[#{file_id}]", data, flags=re.I)
    data = re.sub(re.escape(folder) + r"\\?", lambda m: "[INSTALLDIR]", data, flags=re.I)
    return data


def capture(listing, folder, triples):
    folder = folder.rstrip("\\")
    paths = {f: folder + "\\" + f for f, _, _ in triples}
    rows = []
    for file_id, before_path, after_path in triples:
        before = classes_only(read_registry(before_path))
        after = classes_only(read_registry(after_path))
        gone = sorted(set(before) - set(after))
        if gone:
            raise Failure(f"registering {file_id} removed keys: {', '.join(gone[:5])}")
        added = sorted(set(after) - set(before))
        for low in added:
            key, values = after[low]
            parent = low.rsplit("\\", 1)[0] if "\\" in low else ""
            has_children = any(k.startswith(low + "\\") for k in added)
            if parent not in added:
                rows.append(("key", file_id, key, "*"))
            elif not values and not has_children:
                rows.append(("key", file_id, key, "+"))
        for low in sorted(after):
            key, values = after[low]
            old = before.get(low, (key, {}))[1]
            for name_low, (name, vtype, data) in sorted(values.items()):
                if old.get(name_low) == (name, vtype, data):
                    continue
                if name_low in old:
                    raise Failure(f"registering {file_id} changed the existing value {key}\\{name}")
                if vtype == "other":
                    raise Failure(f"value type not supported by the package: {key}\\{name}={data[:40]}")
                data = to_placeholders(data, paths, folder)
                if any(c in data for c in "\t\n\r"):
                    raise Failure(f"value {key}\\{name} holds a control character")
                rows.append(("value", file_id, key, name, vtype, data))
    if not any(r[0] == "key" for r in rows):
        raise Failure("registering the files added no keys under HKCR")
    with open(listing, "w", encoding="utf-8") as f:
        for r in rows:
            f.write("\t".join(r) + "\n")
    print(f"{listing}: {sum(r[0] == 'key' for r in rows)} keys, {sum(r[0] == 'value' for r in rows)} values")


def load(listing, arch):
    rows = []
    try:
        with open(listing, encoding="utf-8") as f:
            for n, line in enumerate(f, 1):
                r = line.rstrip("\n").split("\t")
                if (r[0], len(r)) not in (("key", 4), ("value", 6)):
                    raise Failure(f"{listing}:{n}: malformed row")
                # A 32-bit package writes the 32-bit view only, and that view is its HKCR.
                if arch == "x86" and r[2].lower().startswith("wow6432node\\"):
                    continue
                r[2] = for_arch(r[2], arch)
                rows.append(tuple(r))
    except OSError as e:
        raise Failure(f"cannot read {listing}: {e.strerror}")
    return rows


def for_arch(key, arch):
    """Type libraries register their path per platform: TypeLib\\{id}\\<ver>\\<lcid>\\win64."""
    if arch == "x86":
        return re.sub(r"^(TypeLib\\[^\\]+\\[^\\]+\\[^\\]+\\)win64$", r"\1win32", key, flags=re.I)
    return key


def canonical(rows):
    return sorted({(r[0], r[2].lower(), r[3] if r[0] == "key" else r[3].lower(), *r[4:]) for r in rows})


def print_rows(rows):
    for r in rows:
        print("\t".join(r))


def expected(listing, arch):
    print_rows(canonical(load(listing, arch)))


def installed(listing, arch, system_reg, install_dir):
    rows = load(listing, arch)
    files = {r[1] for r in rows}
    folder = install_dir.rstrip("\\")
    paths = {f: folder + "\\" + f for f in files}
    found = classes_only(read_registry(system_reg))
    if arch == "x86":
        found = view32(found)
    roots = [r[2].lower() for r in rows if r[0] == "key" and r[3] == "*"]
    out = []
    for low, (key, values) in sorted(found.items()):
        if not any(low == root or low.startswith(root + "\\") for root in roots):
            continue
        if low in roots:
            out.append(("key", "", key, "*"))
        elif not values and not any(k.startswith(low + "\\") for k in found):
            out.append(("key", "", key, "+"))
        for name, vtype, data in values.values():
            out.append(("value", "", key, name, vtype, to_placeholders(data, paths, folder)))
    print_rows(canonical(out))


def view32(keys):
    """HKCR as 32-bit programs see it: the keys below Wow6432Node (CLSID, Interface ...) take the
    place of the 64-bit ones of the same name; the shared keys (ProgIDs, TypeLib) stay."""
    prefix = "wow6432node\\"
    view = {k: v for k, v in keys.items() if not k.startswith(prefix) and k != prefix[:-1]}
    for k, (name, values) in keys.items():
        if k.startswith(prefix):
            view[k[len(prefix):]] = (name[len(prefix):], values)
    return view


def guids(listing):
    names = set()
    for r in load(listing, "x64"):
        if r[0] == "key" and r[3] == "*":
            last = r[2].split("\\")[-1]
            names.add(last.strip("{}"))
    for n in sorted(names):
        print(n)


# --- WiX source ----------------------------------------------------------------------------

def ident(prefix, text):
    return prefix + re.sub(r"[^A-Za-z0-9_.]", "_", text)


def wxs(listing, arch, version, upgrade_code, output, files):
    if arch not in ("x64", "x86"):
        raise Failure(f"unknown architecture {arch!r} (x64 or x86)")
    rows = load(listing, arch)
    win64 = arch == "x64"
    win64_attr = ' Win64="yes"' if win64 else ""
    names = [f.rsplit("/", 1)[-1] for f in files]
    unknown = {r[1] for r in rows} - set(names)
    if unknown:
        raise Failure(f"the listing registers files the package does not have: {', '.join(sorted(unknown))}")
    title = "QarnComConnector" + (" (64-bit)" if win64 else " (32-bit)")
    a = quoteattr
    out = [
        '<?xml version="1.0" encoding="utf-8"?>',
        "<!-- Generated by scripts/package.sh from the registration of the files: do not edit. -->",
        '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">',
        f'  <Product Id="*" Name={a(title)} Language="1033" Version={a(version)} Manufacturer="Qarn"'
        f' UpgradeCode={a(upgrade_code)}>',
        f'    <Package InstallerVersion="{500 if win64 else 200}" Compressed="yes" InstallScope="perMachine"'
        f' Description={a(title + " " + version)}/>',
        '    <MajorUpgrade DowngradeErrorMessage="A newer version of QarnComConnector is already installed."/>',
        '    <Media Id="1" Cabinet="qarn.cab" EmbedCab="yes"/>',
        '    <Directory Id="TARGETDIR" Name="SourceDir">',
        f'      <Directory Id="{"ProgramFiles64Folder" if win64 else "ProgramFilesFolder"}">',
        '        <Directory Id="INSTALLDIR" Name="QarnComConnector">',
    ]
    components = []
    for name in names:
        comp = ident("c_", name)
        components.append(comp)
        out.append(f'          <Component Id={a(comp)} Guid="*"{win64_attr}>')
        out.append(f'            <File Id={a(name)} Name={a(name)} Source={a(name)} KeyPath="yes"/>')
        for r in rows:
            if r[1] != name:
                continue
            root = 'Root="HKCR" Key=' + a(r[2])
            if r[0] == "key":
                # "*": created on install, removed with all subkeys on uninstall; "+": created.
                out.append(f'            <RegistryValue {root} Name="{r[3]}" Type="string" Value=""/>')
                continue
            _, _, key, vname, vtype, data = r
            if vtype == "string" and data.startswith("#"):
                data = "#" + data  # a leading '#' marks a number in the Registry table
            name_attr = f" Name={a(vname)}" if vname else ""
            out.append(f'            <RegistryValue {root}{name_attr} Type={a(vtype)} Value={a(data)}/>')
        out.append("          </Component>")
    out += [
        "        </Directory>",
        "      </Directory>",
        "    </Directory>",
        '    <Feature Id="Complete" Level="1">',
        *[f'      <ComponentRef Id={a(c)}/>' for c in components],
        "    </Feature>",
        "  </Product>",
        "</Wix>",
    ]
    with open(output, "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")


# --- side-by-side assembly manifests --------------------------------------------------------

SXS_ARCH = {"x64": "amd64", "x86": "x86"}
# The registry's FLAGS of a type library (LIBFLAGS) as a manifest's words.
TLB_FLAGS = [(1, "RESTRICTED"), (2, "CONTROL"), (4, "HIDDEN"), (8, "HASDISKIMAGE")]


def registered(listing, name):
    """What one file registers: ({clsid: class}, [interface], [typelib]) read from its values."""
    values = {}
    for r in load(listing, "x64"):
        if r[0] == "value" and r[1] == name and not r[2].lower().startswith("wow6432node\\"):
            values[(r[2].lower(), r[3].lower())] = (r[2], r[5])
    if not values:
        raise Failure(f"the listing registers nothing of {name}")

    def get(key, vname=""):
        v = values.get((key.lower(), vname.lower()))
        return v[1] if v else None

    classes, interfaces, typelibs = {}, [], []
    for (low, vname), (key, data) in sorted(values.items()):
        parts = key.split("\\")
        if vname or len(parts) != 2:
            continue
        top, guid = parts[0].lower(), parts[1]
        if top == "clsid":
            classes[guid.upper()] = {
                "clsid": guid.upper(),
                "description": data,
                "threadingModel": get(key + "\\InprocServer32", "ThreadingModel") or "Apartment",
                "progid": get(key + "\\ProgID"),
                "tlbid": get(key + "\\TypeLib"),
                "progids": [],
            }
        elif top == "interface":
            interfaces.append({
                "name": data,
                "iid": guid.upper(),
                "proxyStubClsid32": get(key + "\\ProxyStubClsid32"),
                "tlbid": get(key + "\\TypeLib"),
            })
    for (low, vname), (key, data) in sorted(values.items()):
        parts = key.split("\\")
        if vname:
            continue
        if len(parts) == 3 and parts[0].lower() == "typelib":
            flags = int(get(key + "\\FLAGS") or "0")
            typelibs.append({
                "tlbid": parts[1].upper(),
                "version": parts[2],
                "flags": ",".join(w for bit, w in TLB_FLAGS if flags & bit),
            })
        elif len(parts) == 2 and parts[1].lower() == "clsid" and data.upper() in classes:
            classes[data.upper()]["progids"].append(parts[0])
    return classes, interfaces, typelibs


def manifest(listing, arch, version, name, assembly, output, dependencies):
    if arch not in SXS_ARCH:
        raise Failure(f"unknown architecture {arch!r} (x64 or x86)")
    classes, interfaces, typelibs = registered(listing, name)
    a = quoteattr

    def identity(assembly_name):
        return (f'<assemblyIdentity type="win32" name={a(assembly_name)} version={a(version)}'
                f' processorArchitecture="{SXS_ARCH[arch]}"/>')

    out = [
        '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>',
        f"<!-- Registration-free activation of {name}: generated by scripts/package.sh from what its",
        "     DllRegisterServer writes. A host names this assembly in its own manifest. -->",
        '<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">',
        "  " + identity(assembly),
    ]
    for dep in dependencies:
        out += ["  <dependency>", "    <dependentAssembly>", "      " + identity(dep),
                "    </dependentAssembly>", "  </dependency>"]
    out.append(f"  <file name={a(name)}>")
    for c in sorted(classes.values(), key=lambda c: (c["progid"] or "~", c["clsid"])):
        attrs = f"clsid={a(c['clsid'])} threadingModel={a(c['threadingModel'])}"
        if c["progid"]:
            attrs += f" progid={a(c['progid'])}"
        if c["tlbid"]:
            attrs += f" tlbid={a(c['tlbid'])}"
        attrs += f" description={a(c['description'])}"
        # The comClass names one ProgID; every further one (version-independent) is a child.
        others = sorted(p for p in c["progids"] if p != c["progid"])
        if not others:
            out.append(f"    <comClass {attrs}/>")
            continue
        out.append(f"    <comClass {attrs}>")
        out += [f"      <progid>{escape(p)}</progid>" for p in others]
        out.append("    </comClass>")
    for t in typelibs:
        flags = f" flags={a(t['flags'])}" if t["flags"] else ""
        out.append(f"    <typelib tlbid={a(t['tlbid'])} version={a(t['version'])} helpdir=\"\"{flags}/>")
    out.append("  </file>")
    for i in sorted(interfaces, key=lambda i: i["name"].lower()):
        attrs = f"name={a(i['name'])} iid={a(i['iid'])}"
        if i["proxyStubClsid32"]:
            attrs += f" proxyStubClsid32={a(i['proxyStubClsid32'])}"
        if i["tlbid"]:
            attrs += f" tlbid={a(i['tlbid'])}"
        out.append(f"  <comInterfaceExternalProxyStub {attrs}/>")
    out.append("</assembly>")
    with open(output, "w", encoding="utf-8", newline="\r\n") as f:
        f.write("\n".join(out) + "\n")


def main(argv):
    usage = __doc__
    if len(argv) < 2:
        raise Failure(usage)
    cmd, args = argv[1], argv[2:]
    if cmd == "capture" and len(args) >= 5 and (len(args) - 2) % 3 == 0:
        capture(args[0], args[1], [tuple(args[i:i + 3]) for i in range(2, len(args), 3)])
    elif cmd == "wxs" and len(args) >= 6:
        wxs(args[0], args[1], args[2], args[3], args[4], args[5:])
    elif cmd == "installed" and len(args) == 4:
        installed(*args)
    elif cmd == "expected" and len(args) == 2:
        expected(*args)
    elif cmd == "guids" and len(args) == 1:
        guids(*args)
    elif cmd == "manifest" and len(args) >= 6:
        manifest(*args[:6], args[6:])
    else:
        raise Failure(usage)


if __name__ == "__main__":
    try:
        main(sys.argv)
    except Failure as e:
        print(f"msi-registry: {e}", file=sys.stderr)
        sys.exit(1)
