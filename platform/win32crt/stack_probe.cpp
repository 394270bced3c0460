// ___chkstk_ms: the compiler calls it, with the size in eax, before it lowers esp for a frame
// larger than a page. Windows grows a thread's stack one guard page at a time, so every page of
// the new frame is touched in order, from the top down, starting from esp before the call (past
// the two saved registers and the return address). All registers are kept.
__asm__(".text\n"
        ".globl ___chkstk_ms\n"
        "___chkstk_ms:\n"
        "    pushl %ecx\n"
        "    pushl %eax\n"
        "    leal 12(%esp), %ecx\n"
        "1:  cmpl $0x1000, %eax\n"
        "    jb 2f\n"
        "    subl $0x1000, %ecx\n"
        "    testl %ecx, (%ecx)\n"
        "    subl $0x1000, %eax\n"
        "    jmp 1b\n"
        "2:  subl %eax, %ecx\n"
        "    testl %ecx, (%ecx)\n"
        "    popl %eax\n"
        "    popl %ecx\n"
        "    ret\n");
