#!/usr/bin/env python3
"""Checks the built 32-bit Windows files without running them: the machine, the subsystem, the
exported names, and that every imported DLL is one that Windows NT 4.0 ships (SETUPAPI.DLL is
loaded at run time by SETUP.EXE, never imported, so that it starts on NT 3.51 too).

    check_pe.py BUILD_DIR      prints what each file imports; exit 1 on any failed check
"""
import os
import struct
import sys

IMAGE_FILE_MACHINE_I386 = 0x14C
IMAGE_FILE_DLL = 0x2000
PE32_MAGIC = 0x10B
SUBSYSTEM_GUI = 2
DIRECTORY_EXPORT, DIRECTORY_IMPORT, DIRECTORY_DELAY_IMPORT = 0, 1, 13

# DLLs in a Windows NT 4.0 system32 (the ones a setup program could reasonably use).
NT40_DLLS = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "crtdll.dll", "gdi32.dll", "imm32.dll",
    "kernel32.dll", "lz32.dll", "mpr.dll", "msacm32.dll", "msvcrt.dll", "ntdll.dll",
    "ole32.dll", "oleaut32.dll", "rpcrt4.dll", "setupapi.dll", "shell32.dll", "user32.dll",
    "version.dll", "winmm.dll", "winspool.drv", "wsock32.dll",
}

# Every function the files may import, each one checked to be exported by Windows NT 4.0's own
# DLLs: a toolchain or code change that brings in a newer function (GetTickCount64,
# InitCommonControlsEx of the first NT 4.0 COMCTL32, ...) fails here until it is reviewed.
NT40_FUNCTIONS_FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "nt40-imports.txt")


def read_nt40_functions():
    functions = set()
    with open(NT40_FUNCTIONS_FILE) as listing:
        for line in listing:
            line = line.split("#", 1)[0].strip()
            if line:
                dll, function = line.split(":", 1)
                functions.add((dll.strip().lower(), function.strip()))
    return functions


# file, is a DLL, names it must export, DLLs it must not import statically
EXPECTED = [
    ("SETUP.EXE", False, [], ["setupapi.dll"]),
    ("qvxcui.dll", True,
     ["FInfoDlgProc", "FInfo0DlgProc", "FQuitDlgProc", "FModelessDlgProc"], []),
    ("TONEBAY.DLL", True, ["DriverProc"], []),
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


def check(path, is_dll, exports, forbidden, nt40_functions):
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
    if (pe.subsystem_version_major, pe.subsystem_version_minor) > (4, 0):
        failures.append("%s: needs subsystem version %d.%d; NT 4.0 is 4.0" % (
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
        if dll.lower() not in NT40_DLLS:
            failures.append("%s: imports %s, which Windows NT 4.0 does not ship" % (name, dll))
        if dll.lower() in forbidden:
            failures.append("%s: imports %s; it must load it at run time" % (name, dll))
    for dll, function in pe.imported_functions():
        if (dll.lower(), function) not in nt40_functions:
            failures.append("%s: imports %s from %s, not among the functions known to be in "
                            "Windows NT 4.0 (%s)" % (name, function, dll,
                                                     os.path.basename(NT40_FUNCTIONS_FILE)))
    return failures


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    failures = []
    nt40_functions = read_nt40_functions()
    for file_name, is_dll, exports, forbidden in EXPECTED:
        failures += check(os.path.join(argv[1], file_name), is_dll, exports, forbidden,
                          nt40_functions)
    for failure in failures:
        print("FAILED " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
