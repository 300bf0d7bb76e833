# Installs the main project's build into a fresh prefix, then builds and runs the consumer
# project against it with find_package. Arguments: -DBUILD_DIR= -DSOURCE_DIR= -DWORK_DIR=
# -DGENERATOR= -DCOMPILER= -DFLAGS= -DLINKER_FLAGS= (the main build's, so that libraries built with
# sanitizers link)
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "installing into ${prefix} failed")
endif()
foreach(step
        "${CMAKE_COMMAND};-S;${SOURCE_DIR}/tests/consumer;-B;${WORK_DIR}/build;-G;${GENERATOR};-DCMAKE_PREFIX_PATH=${prefix};-DCMAKE_CXX_COMPILER=${COMPILER};-DCMAKE_CXX_FLAGS=${FLAGS};-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}"
        "${CMAKE_COMMAND};--build;${WORK_DIR}/build"
        "${WORK_DIR}/build/consumer"
        "${WORK_DIR}/build/storage_consumer"
        "${prefix}/bin/zel-profile;--version")
  execute_process(COMMAND ${step} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed: ${step}")
  endif()
endforeach()
