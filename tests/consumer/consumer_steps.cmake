# Steps shared by the scripts that test an installed zel-profile (installed.cmake,
# debian_package.cmake). Expects SOURCE_DIR, WORK_DIR, GENERATOR, COMPILER, FLAGS and LINKER_FLAGS.

# Runs each command (a ;-list) in turn; the first that fails stops the test.
function(run_steps)
  foreach(step IN LISTS ARGN)
    string(REPLACE "|" ";" command "${step}")
    execute_process(COMMAND ${command} RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "failed: ${command}")
    endif()
  endforeach()
endfunction()

# Builds the consumer project against the zel-profile installed under `prefix` with find_package,
# then runs both of its programs.
function(build_and_run_consumer prefix)
  run_steps(
    "${CMAKE_COMMAND}|-S|${SOURCE_DIR}/tests/consumer|-B|${WORK_DIR}/build|-G|${GENERATOR}|-DCMAKE_PREFIX_PATH=${prefix}|-DCMAKE_CXX_COMPILER=${COMPILER}|-DCMAKE_CXX_FLAGS=${FLAGS}|-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}"
    "${CMAKE_COMMAND}|--build|${WORK_DIR}/build"
    "${WORK_DIR}/build/consumer"
    "${WORK_DIR}/build/storage_consumer")
endfunction()

# Imports the Python module installed under `prefix` (when the build made one, PYTHON naming its
# interpreter and PYTHON_DIR its folder under the prefix) and queries the example profile with it.
function(import_python_module prefix)
  if(NOT PYTHON)
    return()
  endif()
  set(folder ${prefix}/${PYTHON_DIR})
  run_steps(
    "${CMAKE_COMMAND}|-E|env|PYTHONPATH=${folder}|${PYTHON}|${SOURCE_DIR}/tests/consumer/python_consumer.py|${folder}|${SOURCE_DIR}/examples/profile.json")
endfunction()
