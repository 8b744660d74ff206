# Install rules, the CMake package and pkg-config file that consumers find the
# library through, and CPack packages (.tar.gz on Linux, .zip for Windows).
# Included from the top-level CMakeLists.txt after the targets exist.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(STLREFINE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/stlrefine)
option(STLREFINE_INSTALL_PYTHON "Install the Python module" ON)
include(${CMAKE_CURRENT_LIST_DIR}/python_module.cmake)
if(WIN32)
  set(STLREFINE_PYTHON_DIR python CACHE STRING "Where the Python module is installed, relative to the prefix")
  set(_stlrefine_runtime_dir ${CMAKE_INSTALL_BINDIR})  # the DLL
else()
  set(STLREFINE_PYTHON_DIR "" CACHE STRING
      "Where the Python module is installed, relative to the prefix (empty: asked of python3 when installing)")
  set(_stlrefine_runtime_dir ${CMAKE_INSTALL_LIBDIR})
  # The interpreter asked when the prefix has no python3 of its own: Debian's
  # own, else the first on PATH.
  find_program(STLREFINE_PYTHON_INTERPRETER NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
  find_program(STLREFINE_PYTHON_INTERPRETER NAMES python3)
endif()
if(STLREFINE_INSTALL_PYTHON)
  stlrefine_python_dir(${CMAKE_INSTALL_PREFIX} _stlrefine_python_dir)
  message(STATUS "Python module: ${CMAKE_INSTALL_PREFIX}/${_stlrefine_python_dir} for this prefix; "
                 "cmake --install --prefix P asks again for P (STLREFINE_PYTHON_DIR fixes it)")
endif()

install(TARGETS stlrefine EXPORT stlrefineTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT runtime
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS stlrefine_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/include/stlrefine.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT runtime)

# find_package(stlrefine CONFIG) -> stlrefine::stlrefine
install(EXPORT stlrefineTargets NAMESPACE stlrefine:: DESTINATION ${STLREFINE_CMAKE_DIR}
        COMPONENT runtime)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/stlrefineConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/stlrefineConfig.cmake
                              INSTALL_DESTINATION ${STLREFINE_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/stlrefineConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/stlrefineConfig.cmake
              ${PROJECT_BINARY_DIR}/stlrefineConfigVersion.cmake
        DESTINATION ${STLREFINE_CMAKE_DIR} COMPONENT runtime)

# pkg-config: paths relative to the .pc file itself, so the same file is right
# in /usr (the .deb), /usr/local and an unpacked archive.
if(NOT WIN32)
  set(_stlrefine_pc_dir ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig)
  file(RELATIVE_PATH _stlrefine_pc_to_prefix ${_stlrefine_pc_dir} ${CMAKE_INSTALL_PREFIX})
  string(REGEX REPLACE "/$" "" _stlrefine_pc_to_prefix "${_stlrefine_pc_to_prefix}")
  set(STLREFINE_PC_PREFIX "\${pcfiledir}/${_stlrefine_pc_to_prefix}")
  foreach(_dir LIBDIR INCLUDEDIR)
    if(IS_ABSOLUTE "${CMAKE_INSTALL_${_dir}}")
      set(STLREFINE_PC_${_dir} "${CMAKE_INSTALL_${_dir}}")
    else()
      set(STLREFINE_PC_${_dir} "\${prefix}/${CMAKE_INSTALL_${_dir}}")
    endif()
  endforeach()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/stlrefine.pc.in ${PROJECT_BINARY_DIR}/stlrefine.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/stlrefine.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT runtime)
endif()

# The Python module, with a note of where the library lies relative to it,
# in the folder chosen for the prefix of the install.
if(STLREFINE_INSTALL_PYTHON)
  set(_stlrefine_python_files ${PROJECT_SOURCE_DIR}/python/stlrefine/__init__.py
                              ${PROJECT_SOURCE_DIR}/python/stlrefine/__main__.py)
  install(CODE "
    set(STLREFINE_PYTHON_DIR [[${STLREFINE_PYTHON_DIR}]])
    set(STLREFINE_PYTHON_INTERPRETER [[${STLREFINE_PYTHON_INTERPRETER}]])
    include([[${CMAKE_CURRENT_LIST_DIR}/python_module.cmake]])
    stlrefine_install_python_module([[${_stlrefine_python_files}]] [[${PROJECT_BINARY_DIR}/python]]
                                    [[${_stlrefine_runtime_dir}]])" COMPONENT runtime)
endif()

# The man page, compressed as Debian installs man pages when gzip is there.
if(NOT WIN32)
  set(_stlrefine_man ${PROJECT_SOURCE_DIR}/docs/stlrefine.1)
  find_program(STLREFINE_GZIP gzip)
  if(STLREFINE_GZIP)
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/stlrefine.1.gz
                       COMMAND sh -c "\"$1\" -9nc \"$2\" > \"$3\"" sh ${STLREFINE_GZIP}
                               ${_stlrefine_man} ${PROJECT_BINARY_DIR}/stlrefine.1.gz
                       DEPENDS ${_stlrefine_man} VERBATIM)
    add_custom_target(stlrefine_man ALL DEPENDS ${PROJECT_BINARY_DIR}/stlrefine.1.gz)
    set(_stlrefine_man ${PROJECT_BINARY_DIR}/stlrefine.1.gz)
  endif()
  install(FILES ${_stlrefine_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
endif()

# The license: in the machine-readable Debian copyright format in the
# documentation folder (made from LICENSE, the one copy of its text), and as
# LICENSE at the top of the Windows zip.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE _stlrefine_license)
if(NOT _stlrefine_license MATCHES "^[^\n]+\n\nCopyright \\(c\\) ([^\n]+)\n\n(.+)$")
  message(FATAL_ERROR "LICENSE: expected a title, a \"Copyright (c) ...\" line and the text")
endif()
set(STLREFINE_COPYRIGHT "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" _stlrefine_license)
string(REPLACE "\n\n" "\n.\n" _stlrefine_license "${_stlrefine_license}")
string(REPLACE "\n" "\n " STLREFINE_LICENSE_TEXT " ${_stlrefine_license}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian-copyright.in ${PROJECT_BINARY_DIR}/copyright @ONLY)

# The zip carries the README, the license and the module-definition file
# (lib/stlrefine.def, for making an MSVC import library) where Windows users
# look for them.
if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
          DESTINATION . COMPONENT runtime)
  install(FILES ${PROJECT_SOURCE_DIR}/src/api/stlrefine.def
          DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime)
else()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
                ${PROJECT_BINARY_DIR}/copyright
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/examples/torus.stl ${PROJECT_SOURCE_DIR}/examples/refine.c
              ${PROJECT_SOURCE_DIR}/examples/refine.cpp ${PROJECT_SOURCE_DIR}/examples/refine.py
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT runtime)

# --- CPack: `cpack` in the build directory (or `cmake --build . --target package`)
# makes the .tar.gz on Linux and the zip for Windows. The Debian packages are
# built by debhelper from debian/ (`make deb`).
set(CPACK_PACKAGE_NAME stlrefine)
set(CPACK_PACKAGE_VENDOR "stlrefine developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Midpoint refinement of STL triangle meshes (library and CLI)")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/dist/" "__pycache__")

if(WIN32)
  # The zip unpacks into one folder: README.md, LICENSE, bin/ (DLL, CLI), lib/
  # (import library, module-definition file, CMake package), include/,
  # python/ (the module), share/doc/stlrefine/examples/.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_GENERATOR TGZ)
endif()

include(CPack)
