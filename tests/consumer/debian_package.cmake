# Makes the Debian package of the main project's build with cpack, unpacks it into a fresh folder,
# runs the packaged tool and builds and runs the consumer project against the packaged library with
# find_package. Arguments: -DBUILD_DIR= -DSOURCE_DIR= -DWORK_DIR= -DGENERATOR= -DCOMPILER=
# -DFLAGS= -DLINKER_FLAGS= [-DPYTHON= -DPYTHON_DIR=] (the Python module, when built)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
execute_process(COMMAND cpack -G DEB -B ${WORK_DIR}/package WORKING_DIRECTORY ${BUILD_DIR}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cpack -G DEB failed")
endif()
file(GLOB debs ${WORK_DIR}/package/*.deb)
list(LENGTH debs count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one .deb, found: ${debs}")
endif()
set(root ${WORK_DIR}/root)
include(${CMAKE_CURRENT_LIST_DIR}/consumer_steps.cmake)
run_steps("dpkg-deb|--info|${debs}"
          "dpkg-deb|-x|${debs}|${root}"
          "${root}/usr/bin/zel-profile|--version"
          "${root}/usr/bin/zel-profile|query|${SOURCE_DIR}/examples/profile.json")
# The manual page and the bash completion come with the tool.
foreach(file share/man/man1/zel-profile.1 share/bash-completion/completions/zel-profile)
  if(NOT EXISTS ${root}/usr/${file})
    message(FATAL_ERROR "the package lacks /usr/${file}")
  endif()
endforeach()
# The explorer's page is compiled into the tool, and the HTTP library it links is a dependency.
file(STRINGS ${root}/usr/bin/zel-profile page REGEX "<title>zel-profile explorer</title>" LIMIT_COUNT 1)
if(NOT page)
  message(FATAL_ERROR "the packaged tool lacks the explorer's page")
endif()
execute_process(COMMAND dpkg-deb -f ${debs} Depends OUTPUT_VARIABLE depends)
if(NOT depends MATCHES "libcpp-httplib")
  message(FATAL_ERROR "the package does not depend on cpp-httplib: ${depends}")
endif()
build_and_run_consumer(${root}/usr)
import_python_module(${root}/usr)
