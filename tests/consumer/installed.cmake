# Installs the main project's build into a fresh prefix, then builds and runs the consumer
# project against it with find_package, and imports the installed Python module when there is one.
# Arguments: -DBUILD_DIR= -DSOURCE_DIR= -DWORK_DIR= -DGENERATOR= -DCOMPILER= -DFLAGS=
# -DLINKER_FLAGS= (the main build's, so that libraries built with sanitizers link), and
# -DPYTHON= -DPYTHON_DIR= when the build made the Python module
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "installing into ${prefix} failed")
endif()
include(${CMAKE_CURRENT_LIST_DIR}/consumer_steps.cmake)
run_steps("${prefix}/bin/zel-profile|--version")
build_and_run_consumer(${prefix})
import_python_module(${prefix})
