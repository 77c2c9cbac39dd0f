# The window system and OpenGL libraries, as targets: wx_all (wxWidgets 3.2 on GTK3 with its
# GL canvas and AUI), PkgConfig::EPOXY (GL entry points) and PkgConfig::EGL (headless GL
# contexts for tests). Engine and document code never link these.
if(NOT TARGET wx_all)
  find_package(wxWidgets 3.2 REQUIRED COMPONENTS gl aui core base)
  add_library(wx_all INTERFACE)
  # SYSTEM keeps warnings from the wx headers out of our -Wall -Wextra builds.
  target_include_directories(wx_all SYSTEM INTERFACE ${wxWidgets_INCLUDE_DIRS})
  target_compile_definitions(wx_all INTERFACE ${wxWidgets_DEFINITIONS}
    $<$<CONFIG:Debug>:${wxWidgets_DEFINITIONS_DEBUG}>)
  target_compile_options(wx_all INTERFACE ${wxWidgets_CXX_FLAGS})
  target_link_libraries(wx_all INTERFACE ${wxWidgets_LIBRARIES})
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(EPOXY REQUIRED IMPORTED_TARGET epoxy)
  pkg_check_modules(EGL REQUIRED IMPORTED_TARGET egl)
endif()

# The wxWidgets headers cost about two seconds in every file that includes them. A target's
# files that include a wx header share one precompiled copy of the headers most window code
# uses; its other files (the renderer's, the document's) are compiled as they are written.
# Test programs get GoogleTest's headers in the same copy, since wx's defines keep them from
# the tests' shared one.
function(tessary_wx_precompiled_headers target)
  get_target_property(_sources ${target} SOURCES)
  get_target_property(_folder ${target} SOURCE_DIR)
  set(_with_wx 0)
  foreach(_source ${_sources})
    if(NOT _source MATCHES "\\.cpp$")
      continue()
    endif()
    if(NOT IS_ABSOLUTE ${_source})
      set(_source ${_folder}/${_source})
    endif()
    file(STRINGS ${_source} _wx_lines REGEX "^#include <wx/" LIMIT_COUNT 1)
    if(_wx_lines)
      math(EXPR _with_wx "${_with_wx} + 1")
    else()
      set_source_files_properties(${_source} TARGET_DIRECTORY ${target}
        PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
    endif()
  endforeach()
  # One file gains nothing from a header of its own.
  if(_with_wx LESS 2)
    return()
  endif()
  set(_headers <wx/app.h> <wx/button.h> <wx/checkbox.h> <wx/choice.h> <wx/dcbuffer.h>
    <wx/dcclient.h> <wx/dialog.h> <wx/event.h> <wx/frame.h> <wx/image.h> <wx/menu.h>
    <wx/msgdlg.h> <wx/panel.h> <wx/settings.h> <wx/sizer.h> <wx/stattext.h> <wx/textctrl.h>
    <wx/timer.h> <wx/utils.h> <wx/window.h>
    <algorithm> <cmath> <cstdint> <filesystem> <functional> <memory> <string> <vector>)
  if(ARGN STREQUAL "TESTS")
    list(APPEND _headers <gtest/gtest.h> <gmock/gmock.h>)
  endif()
  target_precompile_headers(${target} PRIVATE ${_headers})
endfunction()
