# Compares the runner's listing of a script with the expected text beside it.
string(REGEX REPLACE "\\.lua$" ".expected" expected_file ${SCRIPT})
get_filename_component(dir ${SCRIPT} DIRECTORY)
get_filename_component(fname ${SCRIPT} NAME)
execute_process(COMMAND ${RUNNER} --list ${fname}
  WORKING_DIRECTORY ${dir}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "--list failed (${rc}):\n${err}")
endif()
file(READ ${expected_file} expected)
if(NOT out STREQUAL expected)
  message(FATAL_ERROR "listing differs from ${expected_file}\n--- got:\n${out}")
endif()
