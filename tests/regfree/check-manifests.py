#!/usr/bin/env python3
"""Checks the side-by-side manifests of one package folder against the rules of assembly manifests.

  check-manifests.py <folder> <host manifest> <arch x64|x86> <version>

The folder holds the DLLs and their assembly manifests (*.manifest); the host manifest is the one a
program names them with (samples/cpp/QarnClientSample.exe.manifest). Whether the manifests offer
every class is for activation to show (tests/regfree/regfree_host.cpp).
Prints one line per failure and ends with "manifests: N passed, N failed".
"""
import os
import re
import sys
import xml.etree.ElementTree as ET

NS = "urn:schemas-microsoft-com:asm.v1"
GUID = re.compile(r"^\{[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}\}$")
VERSION = re.compile(r"^\d{1,5}\.\d{1,5}\.\d{1,5}\.\d{1,5}$")
# A ProgID: letters, digits and dots, not starting with a digit. The 39-character limit of the
# documentation is not checked: three of the registered ProgIDs are longer and stay as they are.
PROGID = re.compile(r"^[A-Za-z][A-Za-z0-9.]*$")
ARCH = {"x64": "amd64", "x86": "x86"}
THREADING = {"Apartment", "Free", "Both", "Neutral", "Single"}
# The elements and attributes the schema of assembly manifests allows where these manifests use them.
ATTRIBUTES = {
    "assembly": {"manifestVersion"},
    "assemblyIdentity": {"type", "name", "version", "processorArchitecture", "publicKeyToken", "language"},
    "dependency": set(),
    "dependentAssembly": set(),
    "file": {"name", "hash", "hashalg"},
    "comClass": {"clsid", "threadingModel", "progid", "tlbid", "description", "miscStatus"},
    "progid": set(),
    "typelib": {"tlbid", "version", "helpdir", "resourceid", "flags"},
    "comInterfaceExternalProxyStub": {"name", "iid", "proxyStubClsid32", "tlbid", "baseInterface", "numMethods"},
}
CHILDREN = {
    "assembly": {"assemblyIdentity", "dependency", "file", "comInterfaceExternalProxyStub"},
    "dependency": {"dependentAssembly"},
    "dependentAssembly": {"assemblyIdentity"},
    "file": {"comClass", "typelib"},
    "comClass": {"progid"},
}
REQUIRED = {
    "assemblyIdentity": {"type", "name", "version"},
    "file": {"name"},
    "comClass": {"clsid"},
    "typelib": {"tlbid", "version", "helpdir"},
    "comInterfaceExternalProxyStub": {"name", "iid"},
}
TLB_FLAGS = {"RESTRICTED", "CONTROL", "HIDDEN", "HASDISKIMAGE"}

passed = failed = 0


def check(ok, what):
    global passed, failed
    if ok:
        passed += 1
    else:
        failed += 1
        print(f"FAILED: {what}")
    return ok


def local(tag):
    return tag.split("}", 1)[1] if tag.startswith("{") else tag


def read(path):
    """The root of a manifest, checked against the element and attribute rules; None if unreadable."""
    name = os.path.basename(path)
    try:
        root = ET.parse(path).getroot()
    except (OSError, ET.ParseError) as e:
        check(False, f"{name}: not well-formed XML: {e}")
        return None
    check(root.tag == f"{{{NS}}}assembly", f"{name}: the root is {root.tag}, not assembly in {NS}")
    check(root.get("manifestVersion") == "1.0", f"{name}: manifestVersion is not 1.0")
    first = next(iter(root), None)
    check(first is not None and local(first.tag) == "assemblyIdentity", f"{name}: assemblyIdentity is not the first element")
    for parent in root.iter():
        pname = local(parent.tag)
        for child in parent:
            cname = local(child.tag)
            check(child.tag.startswith(f"{{{NS}}}"), f"{name}: <{cname}> is outside the manifest namespace")
            check(cname in CHILDREN.get(pname, set()), f"{name}: <{cname}> is not allowed in <{pname}>")
        unknown = set(parent.attrib) - ATTRIBUTES.get(pname, set())
        check(not unknown, f"{name}: <{pname}> has unknown attributes {sorted(unknown)}")
        missing = REQUIRED.get(pname, set()) - set(parent.attrib)
        check(not missing, f"{name}: <{pname}> lacks {sorted(missing)}")
    for ident in root.iter(f"{{{NS}}}assemblyIdentity"):
        check(ident.get("type") == "win32", f"{name}: an assemblyIdentity's type is not win32")
        check(VERSION.match(ident.get("version", "")) and all(int(p) <= 65535 for p in ident.get("version").split(".")),
              f"{name}: version {ident.get('version')!r} is not four numbers up to 65535")
    for c in root.iter(f"{{{NS}}}comClass"):
        check(GUID.match(c.get("clsid", "")), f"{name}: clsid {c.get('clsid')!r} is not a GUID in braces")
        check(c.get("threadingModel", "Apartment") in THREADING, f"{name}: threadingModel {c.get('threadingModel')!r}")
        for p in [c.get("progid")] + [e.text for e in c.findall(f"{{{NS}}}progid")]:
            check(p is None or PROGID.match(p), f"{name}: ProgID {p!r} breaks the ProgID rules")
    for t in root.iter(f"{{{NS}}}typelib"):
        check(re.match(r"^\d+\.\d+$", t.get("version", "")), f"{name}: typelib version {t.get('version')!r}")
        flags = set(filter(None, t.get("flags", "").split(",")))
        check(flags <= TLB_FLAGS, f"{name}: typelib flags {sorted(flags - TLB_FLAGS)}")
    for e in root.iter():
        for attr in ("tlbid", "iid", "proxyStubClsid32"):
            if attr in e.attrib:
                check(GUID.match(e.get(attr)), f"{name}: {attr} {e.get(attr)!r} is not a GUID in braces")
    return root


def identity(element):
    ident = element.find(f"{{{NS}}}assemblyIdentity")
    return None if ident is None else (ident.get("name"), ident.get("version"), ident.get("processorArchitecture"))


def main(folder, host_path, arch, version):
    assemblies = {}
    for name in sorted(os.listdir(folder)):
        if name.endswith(".manifest"):
            root = read(os.path.join(folder, name))
            if root is not None:
                assemblies[name[: -len(".manifest")]] = root
    check(len(assemblies) == 2, f"{folder}: {len(assemblies)} assembly manifests, not 2")
    host = read(host_path)
    if host is None:
        return

    # Identities: named as their files, of this version and architecture; the host names any
    # architecture and exactly this version, and every dependency is found in the folder.
    for name, root in assemblies.items():
        check(identity(root) == (name, version, ARCH[arch]), f"{name}: identity {identity(root)}, not ({name}, {version}, {ARCH[arch]})")
    for owner, root in [("host manifest", host)] + list(assemblies.items()):
        for dep in root.iter(f"{{{NS}}}dependentAssembly"):
            ref = identity(dep)
            target = assemblies.get(ref[0]) if ref else None
            check(target is not None, f"{owner}: depends on {ref}, which is not in the folder")
            if target is not None:
                check(ref[1] == version and ref[2] in ("*", ARCH[arch]),
                      f"{owner}: names {ref}, but the folder's assembly is {identity(target)}")

    # What every assembly declares: its files exist, no class or ProgID twice, every tlbid named
    # by a class or interface is a type library of the assemblies.
    clsids, progids, tlbids = {}, {}, set()
    for root in assemblies.values():
        tlbids |= {t.get("tlbid").upper() for t in root.iter(f"{{{NS}}}typelib")}
    for name, root in assemblies.items():
        files = root.findall(f"{{{NS}}}file")
        check(len(files) == 1, f"{name}: {len(files)} files, not one DLL")
        for file in files:
            dll = file.get("name")
            check(os.path.isfile(os.path.join(folder, dll)), f"{name}: names {dll}, which is not in the folder")
            for c in file.iter(f"{{{NS}}}comClass"):
                clsid = c.get("clsid").upper()
                check(clsid not in clsids, f"{name}: class {clsid} is also in {clsids.get(clsid)}")
                clsids[clsid] = name
                for p in filter(None, [c.get("progid")] + [e.text for e in c.findall(f"{{{NS}}}progid")]):
                    check(p not in progids, f"{name}: ProgID {p} is also in {progids.get(p)}")
                    progids[p] = name
                check(c.get("tlbid", "").upper() in tlbids, f"{name}: class {clsid} names no type library of the assemblies")
            for p in root.findall(f"{{{NS}}}comInterfaceExternalProxyStub"):
                check(p.get("tlbid", "").upper() in tlbids, f"{name}: interface {p.get('name')} names no type library of the assemblies")


if __name__ == "__main__":
    if len(sys.argv) != 5 or sys.argv[3] not in ARCH:
        sys.exit(__doc__)
    main(*sys.argv[1:])
    print(f"manifests: {passed} passed, {failed} failed")
    sys.exit(1 if failed else 0)
