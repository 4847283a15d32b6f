// The Windows program takes its maths from the Universal C Runtime
// (ucrtbase.dll), as programs built with Visual Studio do, so its kernel times
// compare with theirs. MinGW's UCRT import library leaves sin, cos and pow to
// MinGW's own x87 versions; these stubs jump through the runtime's import
// slots instead, for every caller in the program.
#if defined(__MINGW32__) && defined(_UCRT)
#define PS_UCRT_STUB(name) \
  ".globl " #name "\n.def " #name "; .scl 2; .type 32; .endef\n" #name ": jmp *__imp_" #name "(%rip)\n"
asm(".text\n.p2align 4\n" PS_UCRT_STUB(sin) PS_UCRT_STUB(cos) PS_UCRT_STUB(pow));
#endif
