# cmake "-DCOMMAND=prog;arg;..." -DEXIT=N [-DOUTPUT=regex] -P expect_exit.cmake
# Runs COMMAND and fails unless it exits with N and, when given, prints
# something matching OUTPUT (standard output and error together).
execute_process(COMMAND ${COMMAND} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status STREQUAL "${EXIT}")
  message(FATAL_ERROR "${COMMAND}: exit status '${status}', expected ${EXIT}\n${out}")
endif()
if(DEFINED OUTPUT AND NOT out MATCHES "${OUTPUT}")
  message(FATAL_ERROR "${COMMAND}: output does not match '${OUTPUT}'\n${out}")
endif()
