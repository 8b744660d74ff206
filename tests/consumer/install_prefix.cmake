# cmake -DBUILD_DIR=... -DPREFIX=... [-DCONFIG=...] -P install_prefix.cmake
# Installs the build into a prefix emptied first, so that nothing left over
# from an earlier run can stand in for a missing install rule.
file(REMOVE_RECURSE "${PREFIX}")
set(config)
if(CONFIG)
  set(config --config ${CONFIG})
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX} ${config}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${status})")
endif()
