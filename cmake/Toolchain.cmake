# Compiler flags, ccache and sanitizers shared by every target.
find_program(CCACHE_PROGRAM ccache)
if(CCACHE_PROGRAM)
  set(CMAKE_C_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
endif()

if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "" FORCE)
endif()

add_compile_options(-Wall -Wextra -Wno-unused-parameter)
# Line tables are enough for backtraces; full debug info made every linked test ~100 MB.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_compile_options(-gline-tables-only)
else()
  add_compile_options(-g1)
endif()
# lld links the many test binaries, sanitized ones above all, several times faster than ld.bfd.
# Its build-id is asked to be a 20-byte one, as ld.bfd writes: a crash report names each image by
# the first 16 bytes of it, and lld's default has only 8.
find_program(ZELV_LLD ld.lld)
if(ZELV_LLD)
  add_link_options(-fuse-ld=lld -Wl,--build-id=sha1)
endif()
# Crash reports walk stacks by frame pointers; without them a walk stops at the first frame.
add_compile_options(-fno-omit-frame-pointer)
# glm leaves vectors and matrices uninitialised by default; our code relies on zero values.
add_compile_definitions(GLM_FORCE_CTOR_INIT GLM_ENABLE_EXPERIMENTAL)

set(ZELV_SANITIZER_FLAGS "")
if(ZELV_SANITIZE)
  set(ZELV_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
elseif(ZELV_TSAN)
  set(ZELV_SANITIZER_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
endif()
if(ZELV_SANITIZER_FLAGS)
  add_compile_options(${ZELV_SANITIZER_FLAGS})
  add_link_options(${ZELV_SANITIZER_FLAGS})
endif()

if(ZELV_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "ZELV_FUZZ needs clang")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
