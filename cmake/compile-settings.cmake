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

# The maths functions the kernel calls as library functions, never as
# builtins: as builtins GCC and clang merge sin(p) and cos(p) into sincos and
# turn pow(x, 2.0) into x*x. sqrt stays a builtin, since the square-root
# instruction is exact. The kernel tests count the calls of each.
set(PS_KERNEL_MATHS_CALLS sin cos atan pow)

# Compile options of the kernel source. Qt builds everything
# position-independent, which makes the step functions the tests call
# interposable and so never inlined into the sub-tests' loops; the kernel is
# linked statically, so nothing can interpose them.
function(ps_kernel_compile_options source)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" OR CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    set(options -fno-semantic-interposition)
    foreach(call ${PS_KERNEL_MATHS_CALLS})
      list(APPEND options -fno-builtin-${call})
    endforeach()
    set_source_files_properties(${source} PROPERTIES COMPILE_OPTIONS "${options}")
  else()
    message(WARNING "No options known to keep ${PS_KERNEL_MATHS_CALLS} library calls with ${CMAKE_CXX_COMPILER_ID}")
  endif()
endfunction()

# Routes the kernel's maths calls of a test program through its counting
# wrappers (__wrap_sin, ...).
function(ps_count_maths_calls target)
  list(JOIN PS_KERNEL_MATHS_CALLS ",--wrap=" wraps)
  target_link_options(${target} PRIVATE "-Wl,--wrap=${wraps}")
endfunction()
