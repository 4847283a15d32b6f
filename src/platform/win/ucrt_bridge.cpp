// The Windows program links the Universal C Runtime (ucrtbase.dll), as
// programs built with Visual Studio do, while Debian's MinGW libraries and
// headers were made for msvcrt.dll. What the two runtimes do differently is
// bridged here.
#if defined(__MINGW32__)

// The maths: MinGW's import library leaves sin, cos and pow to MinGW's own x87
// versions; these stubs jump through the runtime's import slots instead, for
// every caller in the program, so the kernel's times compare with a Visual
// Studio build's.
#define PS_CRT_STUB(name) \
  ".globl " #name "\n.def " #name "; .scl 2; .type 32; .endef\n" #name ": jmp *__imp_" #name "(%rip)\n"
asm(".text\n.p2align 4\n" PS_CRT_STUB(sin) PS_CRT_STUB(cos) PS_CRT_STUB(pow));

#endif
