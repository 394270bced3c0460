#!/usr/bin/env python3
"""Checks that an i486 runs every instruction of the built 32-bit Windows files (SETUP.EXE,
SNDSTF.DLL, qvxcui.dll, TONEBAY.DLL): the 486 is the least processor of Windows NT 4.0, and the
one most machines with a 16-bit ISA sound board carry. No 486 runs here, so the files' code is
disassembled and every instruction held against the i486's own set: anything else (CMOV, FCMOV
and FCOMI of the Pentium Pro, CPUID, RDTSC and CMPXCHG8B of the Pentium, MMX, SSE and later,
the long NOP, UD2) is refused with the file, the address and the instruction.

    check_i486.py OBJDUMP BUILD_DIR    exit 1 on any refused instruction
    check_i486.py OBJDUMP --self-test CC
                                       assembles each row of SELF_TEST with CC, checks the verdict

The linker lays the tables of static constructors and destructors (-1, the entries, 0, twice) at
the end of .text; they are data and are not disassembled.
"""
import os
import re
import struct
import subprocess
import sys
import tempfile

FILES = ["SETUP.EXE", "SNDSTF.DLL", "qvxcui.dll", "TONEBAY.DLL"]
IMAGE_SCN_MEM_EXECUTE = 0x20000000

CONDITIONS = ["o", "no", "b", "c", "nae", "ae", "nb", "nc", "e", "z", "ne", "nz", "be", "na",
              "a", "nbe", "s", "ns", "p", "pe", "np", "po", "l", "nge", "ge", "nl", "le", "ng",
              "g", "nle"]
# The i486's instructions as objdump names them (AT&T), before the size suffix b, w or l.
INTEGER = set("""
aaa aad aam aas adc add and arpl bound bsf bsr bswap bt btc btr bts call cbtw cwtl cwtd cltd
clc cld cli clts cmc cmp cmps cmpxchg daa das dec div enter hlt idiv imul in inc ins int int3
into invd invlpg iret jcxz jecxz jmp lahf lar lcall lds lea leave les lfs lgdt lgs lidt ljmp
lldt lmsw lock lods loop loope loopne loopz loopnz lret lsl lss ltr mov movs movsbw movsbl
movswl movzbw movzbl movzwl mul neg nop not or out outs pop popa popf push pusha pushf rcl rcr
ret rol ror sahf sal sar sbb scas sgdt shl shld shr shrd sidt sldt smsw stc std sti stos str
sub test verr verw wait wbinvd xadd xchg xlat xor
""".split())
INTEGER |= {"j" + cc for cc in CONDITIONS} | {"set" + cc for cc in CONDITIONS}
# The 487's (the 486DX's own floating-point unit), before the suffix s, l, t or ll.
X87 = set("""
f2xm1 fabs fadd faddp fbld fbstp fchs fclex fnclex fcom fcomp fcompp fcos fdecstp fdiv fdivp
fdivr fdivrp ffree fiadd ficom ficomp fidiv fidivr fild fimul fincstp finit fninit fist fistp
fisub fisubr fld fld1 fldcw fldenv fldl2e fldl2t fldlg2 fldln2 fldpi fldz fmul fmulp fnop
fpatan fprem fprem1 fptan frndint frstor fsave fnsave fscale fsin fsincos fsqrt fst fstcw fnstcw
fstenv fnstenv fstp fstsw fnstsw fsub fsubp fsubr fsubrp ftst fucom fucomp fucompp fwait fxam
fxch fxtract fyl2x fyl2xp1
""".split())
PREFIXES = {"lock", "rep", "repz", "repe", "repnz", "repne", "cs", "ds", "es", "fs", "gs", "ss",
            "data16", "addr16"}
# What the refused instructions are, for the message; the first match names it.
NEWER = [
    (r"^f?cmov", "CMOV/FCMOV, Pentium Pro"),
    (r"^fu?comip?$", "FCOMI, Pentium Pro"),
    (r"^(rdpmc|ud[012]|nop\w)$", "Pentium Pro"),
    (r"^(sysenter|sysexit|fxsave|fxrstor)$", "Pentium II"),
    (r"^(cpuid|rdtsc|rdmsr|wrmsr|rsm|cmpxchg8b)$", "Pentium"),
    (r"^(emms|femms)$", "MMX"),
    (r"^(sfence|lfence|mfence|clflush|prefetch\w*|movnti|ldmxcsr|stmxcsr|fisttp\w*)$", "SSE"),
]
LONG_NOP = "long NOP (0F 1F), Pentium Pro"
VECTOR_REGISTER = re.compile(r"%(x|y|z)?mm\d|%k[0-7]\b|%bnd")


def is_i486(mnemonic):
    if mnemonic in INTEGER:
        return True
    if mnemonic[-1:] in ("b", "w", "l") and mnemonic[:-1] in INTEGER - {"nop"}:
        return True
    for suffix in ("", "s", "l", "t", "ll"):
        if mnemonic.endswith(suffix) and mnemonic[:len(mnemonic) - len(suffix)] in X87:
            return True
    return False


def verdict(text):
    """None when an i486 runs the instruction objdump shows as text, else why not."""
    words = text.split()
    while words and words[0] in PREFIXES:
        words = words[1:]
    if not words:
        return None  # a prefix on its own line, its instruction on the next
    mnemonic, operands = words[0], " ".join(words[1:])
    if mnemonic == "(bad)":
        return "bytes that are no instruction"
    if VECTOR_REGISTER.search(operands):
        return "MMX, SSE or a later register"
    if mnemonic.startswith("nop") and (operands or mnemonic != "nop"):
        return LONG_NOP
    if is_i486(mnemonic):
        return None
    for pattern, family in NEWER:
        if re.search(pattern, mnemonic):
            return family
    return "not an i486 instruction"


def code_ranges(data, problems):
    """(first, end) virtual addresses of the code to disassemble in a PE32 image; a .text that
    does not end in the constructor tables is a problem, and disassembled whole."""
    (pe,) = struct.unpack_from("<I", data, 0x3C)
    if data[:2] != b"MZ" or data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    _, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    (image_base,) = struct.unpack_from("<I", data, pe + 24 + 28)
    ranges, found_tables = [], False
    for i in range(sections):
        name, virtual_size, address, raw_size, raw_offset, _, _, _, _, flags = struct.unpack_from(
            "<8sIIIIIIHHI", data, pe + 24 + optional_size + 40 * i)
        if not flags & IMAGE_SCN_MEM_EXECUTE:
            continue
        size = min(virtual_size, raw_size)
        end = size
        if name.rstrip(b"\0") == b".text":
            found_tables = True
            try:
                end = tables_start(data[raw_offset:raw_offset + size])
            except ValueError as error:
                problems.append(str(error))
        ranges.append((image_base + address, image_base + address + end))
    if not found_tables:
        raise ValueError("no .text section")
    return ranges


def tables_start(text):
    """Offset of the constructor table in .text: the two tables end it, each -1 .. 0."""
    end = len(text)
    for _ in ("destructors", "constructors"):
        if end < 8 or struct.unpack_from("<I", text, end - 4)[0] != 0:
            raise ValueError("the constructor tables do not end .text")
        end -= 4
        while True:
            if end < 4:
                raise ValueError("the constructor tables do not end .text")
            (entry,) = struct.unpack_from("<I", text, end - 4)
            end -= 4
            if entry == 0xFFFFFFFF:
                break
            if entry == 0:
                raise ValueError("the constructor tables do not end .text")
    return end


def disassemble(objdump, path, first=None, end=None):
    """(address, text) of every instruction objdump finds."""
    command = [objdump, "-d", "-w", "--no-show-raw-insn"]
    if first is not None:
        command += ["--start-address=0x%x" % first, "--stop-address=0x%x" % end]
    listing = subprocess.run(command + [path], check=True, capture_output=True,
                             text=True).stdout
    found = []
    for line in listing.splitlines():
        match = re.match(r"^\s*([0-9a-f]+):\t(.*)$", line)
        if match:
            found.append((int(match.group(1), 16), match.group(2).strip()))
    return found


def check(objdump, path):
    name = os.path.basename(path)
    problems = []
    try:
        with open(path, "rb") as image:
            ranges = code_ranges(image.read(), problems)
    except (OSError, ValueError, struct.error) as error:
        return ["%s: cannot be read: %s" % (name, error)], 0
    failures, count = ["%s: %s" % (name, problem) for problem in problems], 0
    for first, end in ranges:
        for address, text in disassemble(objdump, path, first, end):
            count += 1
            why = verdict(text)
            if why:
                failures.append("%s: 0x%08x: %s: %s, which an i486 does not run" % (
                    name, address, text, why))
    if count == 0:
        failures.append("%s: no instruction disassembled" % name)
    return failures, count


# Each row: an instruction, and whether the check must refuse it.
SELF_TEST = [
    ("cmovne %eax,%edx", True), ("cmovb (%ecx),%eax", True), ("fcmovb %st(1),%st", True),
    ("fcomip %st(1),%st", True), ("fucomi %st(1),%st", True), ("rdpmc", True), ("ud2", True),
    ("sysenter", True), ("fxsave (%eax)", True), ("nopl 0x0(%eax)", True),
    ("nopw 0x0(%eax,%eax,1)", True), ("cpuid", True), ("rdtsc", True), ("cmpxchg8b (%esi)", True),
    ("paddb %mm1,%mm0", True), ("emms", True), ("movd %eax,%mm0", True),
    ("movaps %xmm1,%xmm0", True), ("pxor %xmm0,%xmm0", True), ("sfence", True),
    ("prefetchnta (%eax)", True), ("ldmxcsr (%eax)", True), ("fisttpl (%eax)", True),
    ("popcnt %eax,%edx", True), ("movbe (%eax),%edx", True), ("vzeroupper", True),
    ("cmpxchg %ecx,(%edx)", False), ("lock xaddl %eax,(%edx)", False), ("bswap %eax", False),
    ("invlpg (%eax)", False), ("wbinvd", False), ("movzbl (%eax),%edx", False),
    ("movswl %ax,%edx", False), ("shld %cl,%eax,%edx", False), ("imul $0x3,%eax,%eax", False),
    ("setne %al", False), ("rep movsb", False), ("rep stos %eax,%es:(%edi)", False),
    (".byte 0x8d, 0x74, 0x26, 0x00", False),  # lea 0x0(%esi,%eiz,1),%esi: padding ("nop", False), ("xchg %ax,%ax", False),
    ("fucompp", False), ("fnstsw %ax", False), ("fildll (%eax)", False), ("fstpt (%eax)", False),
    ("fsincos", False), ("cltd", False), ("lret $0x8", False), ("call *0x401000", False),
]


def self_test(objdump, cc):
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        for instruction, refused in SELF_TEST:
            source, obj = os.path.join(folder, "row.s"), os.path.join(folder, "row.o")
            with open(source, "w") as row:
                row.write("\t.text\n\t%s\n" % instruction)
            built = subprocess.run([cc, "-c", "-x", "assembler", source, "-o", obj],
                                   capture_output=True, text=True)
            if built.returncode != 0:
                failures.append("%s: does not assemble: %s" % (instruction, built.stderr.strip()))
                continue
            listing = disassemble(objdump, obj)
            verdicts = [verdict(text) for _, text in listing]
            if not listing:
                failures.append("%s: nothing disassembled" % instruction)
            elif any(verdicts) != refused:
                failures.append("%s (%s): %s" % (
                    instruction, "; ".join(text for _, text in listing),
                    "passed, but an i486 does not run it" if refused else
                    "refused: " + "; ".join(v for v in verdicts if v)))
    return failures


def main(argv):
    if len(argv) == 4 and argv[2] == "--self-test":
        failures = self_test(argv[1], argv[3])
        print("%d instructions held against the i486" % len(SELF_TEST))
    elif len(argv) == 3:
        failures = []
        for file_name in FILES:
            found, count = check(argv[1], os.path.join(argv[2], file_name))
            print("%s: %d instructions" % (file_name, count))
            failures += found
    else:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    for failure in failures[:200]:
        print("FAILED " + failure)
    if len(failures) > 200:
        print("FAILED ... and %d more" % (len(failures) - 200))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
