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
