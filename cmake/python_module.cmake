# Where the Python module is installed: decided by `cmake --install` for the
# prefix it installs into (--prefix included), as the folder under that prefix
# that the python3 for it imports from. Included by packaging.cmake and, at
# install time, by the install script.

# stlrefine_python_dir(PREFIX VAR): STLREFINE_PYTHON_DIR when set; else what
# python_site_dir.py prints for PREFIX, asked of PREFIX/bin/python3 when there
# is one (/usr, a virtual environment), else of STLREFINE_PYTHON_INTERPRETER;
# with no python3 at all, lib/python3/dist-packages.
function(stlrefine_python_dir prefix var)
  set(dir "${STLREFINE_PYTHON_DIR}")
  set(python "${STLREFINE_PYTHON_INTERPRETER}")
  if(EXISTS "${prefix}/bin/python3")
    set(python "${prefix}/bin/python3")
  endif()
  if(NOT dir AND python)
    execute_process(COMMAND "${python}" "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/python_site_dir.py" "${prefix}"
                    OUTPUT_VARIABLE dir OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      set(dir "")
    endif()
  endif()
  if(NOT dir)
    set(dir lib/python3/dist-packages)  # no python3 to ask: Debian's folder under /usr
  endif()
  set(${var} "${dir}" PARENT_SCOPE)
endfunction()

# stlrefine_install_python_module(FILES STAGING_DIR LIBRARY_DIR), at install
# time: the module's FILES, and _installed.py with the library's folder
# (LIBRARY_DIR, relative to the prefix or absolute) relative to the module.
function(stlrefine_install_python_module files staging library_dir)
  stlrefine_python_dir("${CMAKE_INSTALL_PREFIX}" dir)
  set(module "${CMAKE_INSTALL_PREFIX}/${dir}/stlrefine")
  if(NOT IS_ABSOLUTE "${library_dir}")
    set(library_dir "${CMAKE_INSTALL_PREFIX}/${library_dir}")
  endif()
  file(RELATIVE_PATH relative "${module}" "${library_dir}")
  file(WRITE "${staging}/_installed.py"
       "# Written by the install: where the library is installed, relative to this package.\n"
       "LIBRARY_DIR = \"${relative}\"\n")
  file(INSTALL DESTINATION "${module}" TYPE FILE FILES ${files} "${staging}/_installed.py")
  # file(INSTALL) lists the files in this variable, for install_manifest.txt.
  set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()
