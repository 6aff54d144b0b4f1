#!/usr/bin/env python3
"""Checks that a 32-bit Windows program starts on every Windows it targets.

Usage: check_compat.py EXE [--max-size BYTES]

Targets: Windows 98 SE, ME, 2000 SP4 and XP SP2 (and so everything later).
  * Imports: every function the exe imports must be exported, with a working
    implementation, by each target. exports/nt51/<dll>.txt list what XP
    exports; exports/older-systems.txt says which of those names the older
    targets lack or have only as stubs. Each import that some target lacks is
    printed as  DLL!Name  followed by the targets that lack it.
  * Manifest (when the exe has one): XP's side-by-side loader must accept it:
    no element may declare two namespaces (XP SP2 restarts the machine on
    such a manifest, Microsoft KB 921337), and the elements added after XP
    (trustInfo, compatibility, application/windowsSettings) must not be in
    XP's own namespace, which its loader reads strictly.
  * Header: the Windows version the exe says it needs must be 4.10 (98) or
    lower; a newer one makes the older systems refuse to load it.
  * Size, with --max-size.
Prints the exe's size and its imports per DLL. Exit status 0 when every check
passes, 1 otherwise, 2 when the exe cannot be read.
"""
import argparse
import os
import struct
import sys
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
TARGETS = ("98SE", "ME", "2000", "XPSP2")
OLDEST_VERSION = (4, 10)  # Windows 98
ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
POST_XP_ELEMENTS = {"trustInfo", "compatibility", "application", "windowsSettings"}
RT_MANIFEST = 24


class PEError(Exception):
    pass


class PE:
    """Just enough of a PE32 reader for imports and one resource."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ" or len(data) < 0x40:
            raise PEError("not an MZ executable")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise PEError("no PE signature")
        nsect, = struct.unpack_from("<H", data, pe + 6)
        optsize, = struct.unpack_from("<H", data, pe + 20)
        opt = pe + 24
        if struct.unpack_from("<H", data, opt)[0] != 0x10B:
            raise PEError("not a 32-bit (PE32) image")
        os_version = struct.unpack_from("<HH", data, opt + 40)
        subsystem_version = struct.unpack_from("<HH", data, opt + 48)
        self.required_version = max(os_version, subsystem_version)
        ndirs = self.u32(opt + 92)
        self.dirs = [struct.unpack_from("<II", data, opt + 96 + 8 * i) for i in range(min(ndirs, 16))]
        self.sections = []
        for i in range(nsect):
            off = opt + optsize + 40 * i
            vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, off + 8)
            self.sections.append((va, max(vsize, rawsize), rawptr, rawsize))

    def u32(self, off):
        if off < 0 or off + 4 > len(self.data):
            raise PEError("read past end of file at 0x%x" % off)
        return struct.unpack_from("<I", self.data, off)[0]

    def offset(self, rva):
        for va, size, rawptr, rawsize in self.sections:
            if va <= rva < va + size and rva - va < rawsize:
                return rawptr + rva - va
        raise PEError("RVA 0x%x is outside the file's sections" % rva)

    def cstr(self, rva):
        off = self.offset(rva)
        return self.data[off:self.data.index(b"\0", off)].decode("latin-1")

    def imports(self):
        """(dll, name or '#ordinal') for every entry of the import table."""
        if len(self.dirs) < 2 or not self.dirs[1][0]:
            return
        desc = self.offset(self.dirs[1][0])
        while True:
            lookup, _, _, name_rva, thunks = struct.unpack_from("<IIIII", self.data, desc)
            if name_rva == 0:
                return
            dll, entry = self.cstr(name_rva), self.offset(lookup or thunks)
            while self.u32(entry):
                value = self.u32(entry)
                yield dll, "#%d" % (value & 0xFFFF) if value & 0x80000000 else self.cstr(value + 2)
                entry += 4
            desc += 20

    def resource(self, type_id):
        """The data of the first resource of that type, or None."""
        if len(self.dirs) < 3 or not self.dirs[2][0]:
            return None
        root = self.offset(self.dirs[2][0])
        entry = self._first_entry(root, type_id)
        while entry is not None and entry & 0x80000000:  # a subdirectory: name, then language
            entry = self._first_entry(root + (entry & 0x7FFFFFFF))
        if entry is None:
            return None
        rva, size = struct.unpack_from("<II", self.data, root + entry)
        return self.data[self.offset(rva):self.offset(rva) + size]

    def _first_entry(self, directory, wanted=None):
        named, numbered = struct.unpack_from("<HH", self.data, directory + 12)
        for i in range(named + numbered):
            ident, target = struct.unpack_from("<II", self.data, directory + 16 + 8 * i)
            if wanted is None or ident == wanted:
                return target
        return None


def read_list(path):
    with open(path, encoding="utf-8") as f:
        return [line.split("#", 1)[0].split() for line in f if line.split("#", 1)[0].strip()]


def load_exports():
    folder = os.path.join(HERE, "exports", "nt51")
    return {name[:-4]: {fields[0] for fields in read_list(os.path.join(folder, name))}
            for name in os.listdir(folder) if name.endswith(".txt")}


def load_rules():
    """(dll, name) -> targets lacking it; '*W' rules apply to the wide twin
    of an ANSI function; 'works' lines make exceptions to them."""
    rules = {}
    for dll, name, lacking, kind, *_sources in read_list(os.path.join(HERE, "exports", "older-systems.txt")):
        rules[(dll, name)] = set() if kind == "works" else set(lacking.split(","))
    return rules


def lacking_targets(dll, name, exports, rules):
    key = dll.lower()[:-4] if dll.lower().endswith(".dll") else dll.lower()
    if key not in exports or name not in exports[key]:
        return set(TARGETS)  # not on XP, hence on none of the older ones
    if (key, name) in rules:
        return rules[(key, name)]
    if name.endswith("W") and name[:-1] + "A" in exports[key] and (key, "*W") in rules:
        return rules[(key, "*W")]
    return set()


def manifest_faults(text):
    faults = []
    # ElementTree drops namespace declarations, so they are counted in the text.
    for tag in text.split("<")[1:]:
        declarations = tag.split(">", 1)[0].count("xmlns")
        if declarations > 1:
            faults.append("element <%s declares %d namespaces" % (tag.split()[0], declarations))
    root = ET.fromstring(text)
    if root.tag != "{%s}assembly" % ASM_V1:
        faults.append("the root is not an assembly element in XP's namespace")
    for element in root.iter():
        namespace, _, local = element.tag[1:].partition("}")
        if namespace == ASM_V1 and local in POST_XP_ELEMENTS:
            faults.append("<%s> is in XP's own namespace, which XP reads strictly" % local)
    return faults


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("exe")
    parser.add_argument("--max-size", type=int)
    args = parser.parse_args(argv)
    try:
        with open(args.exe, "rb") as f:
            data = f.read()
        pe = PE(data)
        imports = list(pe.imports())
        manifest = pe.resource(RT_MANIFEST)
    except (OSError, ValueError, PEError, struct.error) as e:
        print("%s: %s" % (args.exe, e), file=sys.stderr)
        return 2

    failures = 0
    print("%s: %d bytes (%.1f KiB)" % (os.path.basename(args.exe), len(data), len(data) / 1024))
    if args.max_size and len(data) > args.max_size:
        print("  larger than %d bytes" % args.max_size)
        failures += 1

    if pe.required_version > OLDEST_VERSION:
        print("header: needs Windows %d.%d; Windows 98 is %d.%d" % (pe.required_version + OLDEST_VERSION))
        failures += 1

    exports, rules = load_exports(), load_rules()
    by_dll = {}
    for dll, name in imports:
        by_dll.setdefault(dll, []).append(name)
    for dll, names in by_dll.items():
        print("  %s (%d): %s" % (dll, len(names), " ".join(names)))
    for dll, name in imports:
        lacking = lacking_targets(dll, name, exports, rules)
        if lacking:
            print("%s!%s\tmissing on %s" % (dll, name, ", ".join(t for t in TARGETS if t in lacking)))
            failures += 1

    if manifest is not None:
        faults = manifest_faults(manifest.decode("utf-8"))
        for fault in faults:
            print("manifest: " + fault)
        print("manifest: %d bytes, %d faults" % (len(manifest), len(faults)))
        failures += len(faults)
    print("%d imports checked for %s; %d problems" % (len(imports), ", ".join(TARGETS), failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
