// The Windows program takes its maths from its C runtime DLL, the Universal C
// Runtime (ucrtbase.dll), as programs built with Visual Studio do, so its
// kernel times compare with theirs. MinGW's import library leaves sin, cos and
// pow to MinGW's own x87 versions; these stubs jump through the runtime's
// import slots instead, for every caller in the program.
#if defined(__MINGW32__)
#define PS_CRT_STUB(name) \
  ".globl " #name "\n.def " #name "; .scl 2; .type 32; .endef\n" #name ": jmp *__imp_" #name "(%rip)\n"
asm(".text\n.p2align 4\n" PS_CRT_STUB(sin) PS_CRT_STUB(cos) PS_CRT_STUB(pow));
#endif
