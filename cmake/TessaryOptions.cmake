# Compiler settings shared by every Tessary target. Many results are fixed to the bit, so
# floating-point contraction stays off and fast-math is never used.
add_library(tessary_options INTERFACE)
target_compile_options(tessary_options INTERFACE
  -Wall -Wextra
  -ffp-contract=off
  -fno-fast-math)

# LLVM's linker, where installed: it links the large test programs in a fraction of GNU ld's time.
include(CheckLinkerFlag)
check_linker_flag(CXX -fuse-ld=lld TESSARY_LINKER_LLD)
if(TESSARY_LINKER_LLD)
  target_link_options(tessary_options INTERFACE -fuse-ld=lld)
endif()

if(TESSARY_SANITIZE OR TESSARY_FUZZ)
  # Line tables are all a sanitizer report needs; full debug information doubles the
  # compile time of the instrumented build.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    # Without the time stamp in clang's precompiled header ccache can cache the files that use it.
    target_compile_options(tessary_options INTERFACE -gline-tables-only -Xclang -fno-pch-timestamp)
  else()
    target_compile_options(tessary_options INTERFACE -g1)
  endif()
  target_compile_options(tessary_options INTERFACE -O1 -fno-omit-frame-pointer)
endif()

if(TESSARY_SANITIZE)
  target_compile_options(tessary_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined)
  target_link_options(tessary_options INTERFACE -fsanitize=address,undefined)
elseif(TESSARY_FUZZ)
  target_compile_options(tessary_options INTERFACE -fsanitize=address)
  target_link_options(tessary_options INTERFACE -fsanitize=address)
endif()

# Adds one area library from the sources in its folder (one header and source per concept).
function(tessary_area_library name)
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(${name} STATIC ${_sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC tessary_options)
endfunction()
