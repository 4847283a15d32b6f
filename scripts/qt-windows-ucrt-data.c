/* Linked into Qt5Core.dll by scripts/build-qt-windows.sh. Qt Core was written
   for msvcrt.dll, which exports __argc and _environ as data that the code
   reads through import slots; the UCRT has only their accessors. This fills
   the two slots from the accessors as a C initialiser, which the DLL's start-up
   runs before any C++ constructor, so no Qt code can read them empty. */
int* __cdecl __p___argc(void);
char*** __cdecl __p__environ(void);

int* __imp___argc;
char*** __imp__environ;

static void __cdecl fillDataSlots(void) {
  __imp___argc = __p___argc();
  __imp__environ = __p__environ();
}

__attribute__((section(".CRT$XIB"), used)) static void(__cdecl* fillDataSlotsAtStart)(void) = fillDataSlots;
