# The language level and the arithmetic every build of the program shares.
# The kernel's checksums depend on plain IEEE arithmetic: no fast-math, no FMA
# contraction, no host-specific instruction sets.
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE Release)
endif()
set(CMAKE_CXX_FLAGS_RELEASE "-O2")
set(CMAKE_C_FLAGS_RELEASE "-O2")

# Warnings and the strict arithmetic, for the targets defined after this call.
macro(ps_strict_compile_options)
  if(MSVC)
    # /fp:precise contracts nothing from Visual Studio 2022 on.
    add_compile_options(/W4 /fp:precise /utf-8)
  else()
    add_compile_options(-Wall -Wextra -ffp-contract=off -fno-fast-math)
  endif()
endmacro()
