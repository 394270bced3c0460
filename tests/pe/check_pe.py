#!/usr/bin/env python3
"""Checks the built 32-bit Windows files (SETUP.EXE, the toolkit SNDSTF.DLL, qvxcui.dll,
TONEBAY.DLL) without running them, as the loaders of Windows NT 3.51 and NT 4.0 would take them:
the machine, the subsystem, the exported names, every imported DLL and function against what each
system ships (nt351-imports.txt, nt40-imports.txt), and the resources: dialog templates NT 3.51
reads (no extended templates, no DS_CENTER, which it ignores) and icons it can draw. SETUPAPI.DLL
is loaded at run time by SETUP.EXE, never imported, so that it starts on NT 3.51 too.

    check_pe.py BUILD_DIR      prints what each file imports; exit 1 on any failed check
"""
import os
import re
import struct
import sys

IMAGE_FILE_MACHINE_I386 = 0x14C
IMAGE_FILE_DLL = 0x2000
PE32_MAGIC = 0x10B
SUBSYSTEM_GUI = 2
DIRECTORY_EXPORT, DIRECTORY_IMPORT, DIRECTORY_RESOURCE, DIRECTORY_DELAY_IMPORT = 0, 1, 2, 13
RT_ICON, RT_DIALOG, RT_GROUP_ICON = 3, 5, 14
DS_CENTER = 0x0800
DS_3DLOOK = 0x0004
HERE = os.path.dirname(os.path.abspath(__file__))


class Listing:
    """A reviewed list: the DLLs ("dll NAME") and functions ("DLL: FUNCTION") a system offers,
    each ending in "# SOURCE", a source the list's header names ("#   SOURCE  text")."""

    def __init__(self, system, file_name):
        self.system, self.file_name = system, file_name
        self.dlls, self.functions, self.sources, self.problems = set(), set(), set(), []
        self.read(file_name)

    def read(self, file_name):
        with open(os.path.join(HERE, file_name)) as listing:
            lines = listing.read().splitlines()
        for number, line in enumerate(lines, 1):
            where = "%s:%d" % (file_name, number)
            declared = re.match(r"#   (\w+)  ", line)
            if declared:
                self.sources.add(declared.group(1))
            entry, _, source = line.partition("#")
            entry, source = entry.strip(), source.strip()
            if not entry:
                continue
            if entry.startswith("include "):
                self.read(entry.split(None, 1)[1])
                continue
            if source not in self.sources:
                self.problems.append("%s: \"%s\" does not say where it is known from" %
                                     (where, entry))
            if entry.startswith("dll "):
                self.dlls.add(entry[4:].strip().lower())
            elif ":" in entry:
                dll, function = entry.split(":", 1)
                self.functions.add((dll.strip().lower(), function.strip()))
            else:
                self.problems.append("%s: not an entry: %s" % (where, entry))


SYSTEMS = [Listing("Windows NT 3.51", "nt351-imports.txt"),
           Listing("Windows NT 4.0", "nt40-imports.txt")]

# file, is a DLL, names it must export, DLLs it must not import statically, carries an icon
EXPECTED = [
    ("SETUP.EXE", False, [], ["setupapi.dll"], True),
    # The toolkit: its C interface under the plain names SETUP.EXE and qvxcui.dll import.
    ("SNDSTF.DLL", True,
     ["InitializeFrame", "HwndFrame", "HinstFrame", "FInitializeInstall", "FSetBitmap",
      "TerminateFrame", "TerminateInstall", "FOpenInf", "FDoDialogExt", "FKillNDialogs",
      "CbGetSymbolValue", "FSetSymbolValue", "DoMsgBox", "HShowWaitCursor", "FRestoreCursor",
      "ResetCopyList", "FAddSectionFilesToCopyList", "FAddToBillboardList", "ProSetPos",
      "GrcCopyFilesInCopyList", "FCreateProgManGroup", "FShowProgManGroup",
      "FCreateProgManItem", "LLogSetupEvent", "FRestartAllowed", "UExitCode"],
     ["setupapi.dll"], False),
    ("qvxcui.dll", True,
     ["FInfoDlgProc", "FInfo0DlgProc", "FQuitDlgProc", "FModelessDlgProc"], [], False),
    ("TONEBAY.DLL", True, ["DriverProc"], [], False),
]


class PeFile:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        (pe,) = struct.unpack_from("<I", data, 0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        (self.machine, sections, _, _, _, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        (self.magic,) = struct.unpack_from("<H", data, optional)
        if self.magic != PE32_MAGIC:
            raise ValueError("not a PE32 (32-bit) optional header: magic 0x%x" % self.magic)
        (self.subsystem_version_major, self.subsystem_version_minor) = struct.unpack_from(
            "<HH", data, optional + 48)
        (self.subsystem,) = struct.unpack_from("<H", data, optional + 68)
        (directory_count,) = struct.unpack_from("<I", data, optional + 92)
        self.directories = [struct.unpack_from("<II", data, optional + 96 + 8 * i)
                            for i in range(directory_count)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            _, virtual_size, address, raw_size, raw_offset = struct.unpack_from(
                "<8sIIII", data, table + 40 * i)
            self.sections.append((address, max(virtual_size, raw_size), raw_offset))

    def offset(self, rva):
        for address, size, raw_offset in self.sections:
            if address <= rva < address + size:
                return rva - address + raw_offset
        raise ValueError("address 0x%x lies in no section" % rva)

    def string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def exports(self):
        rva, size = self.directory(DIRECTORY_EXPORT)
        if size == 0:
            return []
        names_count, _, names_rva = struct.unpack_from("<III", self.data, self.offset(rva) + 24)
        names = self.offset(names_rva)
        return [self.string(struct.unpack_from("<I", self.data, names + 4 * i)[0])
                for i in range(names_count)]

    def imported_functions(self):
        """(DLL, function name) of every import by name; ordinals as '#N'."""
        rva, size = self.directory(DIRECTORY_IMPORT)
        functions = []
        if size == 0:
            return functions
        entry = self.offset(rva)
        while True:
            lookup, _, _, name_rva, thunks = struct.unpack_from("<5I", self.data, entry)
            if not any((lookup, name_rva, thunks)):
                return functions
            dll = self.string(name_rva)
            thunk = self.offset(lookup or thunks)
            while True:
                (value,) = struct.unpack_from("<I", self.data, thunk)
                if value == 0:
                    break
                if value & 0x80000000:
                    functions.append((dll, "#%d" % (value & 0xFFFF)))
                else:
                    functions.append((dll, self.string(value + 2)))  # past the hint
                thunk += 4
            entry += 20

    def resources(self, wanted_type):
        """(name, data) of every resource of a type, each language."""
        rva, size = self.directory(DIRECTORY_RESOURCE)
        if size == 0:
            return []
        base = self.offset(rva)

        def entries(table):
            named, numbered = struct.unpack_from("<HH", self.data, base + table + 12)
            for i in range(named + numbered):
                yield struct.unpack_from("<II", self.data, base + table + 16 + 8 * i)

        found = []
        for type_id, type_table in entries(0):
            if type_id != wanted_type or not type_table & 0x80000000:
                continue
            for name, name_table in entries(type_table & 0x7FFFFFFF):
                for _, leaf in entries(name_table & 0x7FFFFFFF):
                    data_rva, data_size = struct.unpack_from("<II", self.data, base + leaf)
                    start = self.offset(data_rva)
                    found.append((name, self.data[start:start + data_size]))
        return found

    def imports(self, index, entry_size, name_field):
        """DLL names of an import table (20-byte entries) or delay-import table (32-byte)."""
        rva, size = self.directory(index)
        names = []
        if size == 0:
            return names
        entry = self.offset(rva)
        while True:
            fields = struct.unpack_from("<%dI" % (entry_size // 4), self.data, entry)
            if not any(fields):
                return names
            names.append(self.string(fields[name_field]))
            entry += entry_size


def check_resources(name, pe, needs_icon):
    failures = []
    for dialog, template in pe.resources(RT_DIALOG):
        if struct.unpack_from("<HH", template, 0) == (1, 0xFFFF):
            failures.append("%s: dialog %d is an extended template, which Windows NT 3.51 cannot "
                            "read" % (name, dialog))
        elif struct.unpack_from("<I", template, 0)[0] & DS_CENTER:
            failures.append("%s: dialog %d asks for DS_CENTER, which Windows NT 3.51 ignores" %
                            (name, dialog))
        elif not struct.unpack_from("<I", template, 0)[0] & DS_3DLOOK:
            failures.append("%s: dialog %d lacks DS_3DLOOK: NT 4.0 draws a 3.51 program's "
                            "dialogs flat without it" % (name, dialog))
    icons = pe.resources(RT_ICON)
    if needs_icon and not pe.resources(RT_GROUP_ICON):
        failures.append("%s: has no icon" % name)
    for icon, image in icons:
        if image[:4] == b"\x89PNG" or struct.unpack_from("<H", image, 14)[0] > 8:
            failures.append("%s: icon image %d has more than 256 colours, which Windows NT 3.51 "
                            "cannot draw" % (name, icon))
    return failures


def check(path, is_dll, exports, forbidden, needs_icon):
    name = os.path.basename(path)
    failures = []
    try:
        pe = PeFile(open(path, "rb").read())
    except (OSError, ValueError, struct.error) as error:
        return ["%s: cannot be read as a PE file: %s" % (name, error)]
    if pe.machine != IMAGE_FILE_MACHINE_I386:
        failures.append("%s: machine 0x%x, not i386" % (name, pe.machine))
    if bool(pe.characteristics & IMAGE_FILE_DLL) != is_dll:
        failures.append("%s: %s" % (name, "not a DLL" if is_dll else "marked as a DLL"))
    if not is_dll and pe.subsystem != SUBSYSTEM_GUI:
        failures.append("%s: subsystem %d, not the Windows GUI" % (name, pe.subsystem))
    # Windows NT starts no program that asks for a newer subsystem than its own, nor one older
    # than 3.10: NT 3.51 takes 3.10 to 3.51.
    if not (3, 10) <= (pe.subsystem_version_major, pe.subsystem_version_minor) <= (3, 51):
        failures.append("%s: asks for subsystem version %d.%d; NT 3.51 starts 3.10 to 3.51" % (
            name, pe.subsystem_version_major, pe.subsystem_version_minor))
    exported = pe.exports()
    for wanted in exports:
        if wanted not in exported:
            failures.append("%s: does not export %s (exports: %s)" % (
                name, wanted, ", ".join(exported) or "none"))
    imported = pe.imports(DIRECTORY_IMPORT, 20, 3)
    delayed = pe.imports(DIRECTORY_DELAY_IMPORT, 32, 1)
    print("%s imports: %s%s" % (name, ", ".join(imported) or "nothing",
                                "; delay-loaded: " + ", ".join(delayed) if delayed else ""))
    for dll in imported + delayed:
        if dll.lower() in forbidden:
            failures.append("%s: imports %s; it must load it at run time" % (name, dll))
    functions = pe.imported_functions()
    for system in SYSTEMS:
        for dll in imported + delayed:
            if dll.lower() not in system.dlls:
                failures.append("%s: imports %s, which %s does not ship (%s)" % (
                    name, dll, system.system, system.file_name))
        for dll, function in functions:
            if dll.lower() in system.dlls and (dll.lower(), function) not in system.functions:
                failures.append("%s: imports %s from %s, not among the functions known to be in "
                                "%s (%s)" % (name, function, dll, system.system,
                                             system.file_name))
    return failures + check_resources(name, pe, needs_icon)


# The sources of the shipped files, read for nt351-behaviour.txt; the host build's own are not.
SHIPPED_SOURCES = ["setup", "driver", "modem", "platform/toolkit", "platform/qvxcui",
                   "platform/tonebay"]
NOT_SHIPPED = ["platform/toolkit/host"]


def without_comments(text):
    """The C or C++ text less its comments, each line kept in its place."""
    text = re.sub(r"/\*.*?\*/", lambda m: "\n" * m.group(0).count("\n"), text, flags=re.S)
    return re.sub(r"//[^\n]*", "", text)


def check_nt351_behaviour(source_dir):
    """Each name of nt351-behaviour.txt used only as its rule allows."""
    failures, rules = [], []
    listing = "nt351-behaviour.txt"
    with open(os.path.join(HERE, listing)) as lines:
        for number, line in enumerate(lines, 1):
            entry, _, source = line.partition("#")
            words = entry.split()
            if not words:
                continue
            if len(words) < 2 or words[1] not in ("never", "fallback") or not source.strip() or (
                    words[1] == "fallback") != (len(words) > 2):
                failures.append("%s:%d: not an entry: %s" % (listing, number, line.strip()))
                continue
            rules.append((words[0], words[1], words[2:]))
    for top in SHIPPED_SOURCES:
        for folder, _, files in os.walk(os.path.join(source_dir, top)):
            relative = os.path.relpath(folder, source_dir).replace(os.sep, "/")
            if any(relative == skip or relative.startswith(skip + "/") for skip in NOT_SHIPPED):
                continue
            for file_name in sorted(files):
                if not file_name.endswith((".c", ".cpp", ".h", ".rc")):
                    continue
                path = relative + "/" + file_name
                with open(os.path.join(source_dir, path), errors="replace") as source:
                    code = without_comments(source.read()).splitlines()
                for number, text in enumerate(code, 1):
                    for name, rule, allowed in rules:
                        if not re.search(r"\b%s\b" % name, text):
                            continue
                        if rule == "never":
                            failures.append("%s:%d: uses %s, which Windows NT 3.51 lacks (%s)" %
                                            (path, number, name, listing))
                        elif path not in allowed or not re.search(r"\bif \(.*\b%s\b" % name,
                                                                  text):
                            failures.append("%s:%d: uses %s outside the checked call that %s "
                                            "allows" % (path, number, name, listing))
    return failures


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    failures = [problem for system in SYSTEMS for problem in system.problems]
    failures += check_nt351_behaviour(os.path.dirname(os.path.dirname(HERE)))
    for file_name, is_dll, exports, forbidden, needs_icon in EXPECTED:
        failures += check(os.path.join(argv[1], file_name), is_dll, exports, forbidden,
                          needs_icon)
    for failure in failures:
        print("FAILED " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
