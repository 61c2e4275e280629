# Installs the project into a scratch prefix, moves the prefix elsewhere, and checks that what
# was installed works from there: the tool runs and writes a budget, the headers sit under one
# folder of the project's, every shared library has a version in its soname, the manual page and
# the completion script are in place, and an application builds against the package with
# find_package. First it configures the sources as the README's install commands do, without
# the test dependencies, to show that installing needs none of them.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
set(moved ${WORK_DIR}/moved)

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "Failed: ${ARGN}\n${out}")
    endif()
    set(output "${out}" PARENT_SCOPE)
endfunction()

function(expect_file path)
    if(NOT EXISTS ${path})
        message(FATAL_ERROR "Not installed: ${path}")
    endif()
endfunction()

run(${CMAKE_COMMAND} -S ${PROJECT_DIR} -B ${WORK_DIR}/configure -G ${GENERATOR}
    -DCMAKE_BUILD_TYPE=Release -DZEL_BUILD_TESTS=OFF -DZEL_BUILD_BENCHMARKS=OFF
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON)

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
file(RENAME ${prefix} ${moved})

run(${moved}/bin/budget-file sample ${WORK_DIR}/budget.xml --transactions 20)
run(${moved}/bin/budget-file check ${WORK_DIR}/budget.xml)
if(NOT output MATCHES "OK: ")
    message(FATAL_ERROR "The installed tool did not check its sample:\n${output}")
endif()

foreach(header file-storage/BudgetFile.h file-storage/Export.h money/Currency.h storage/Storage.h)
    expect_file(${moved}/include/zel/${header})
endforeach()
file(GLOB stray LIST_DIRECTORIES true ${moved}/include/*)
if(NOT stray STREQUAL "${moved}/include/zel")
    message(FATAL_ERROR "Headers outside include/zel: ${stray}")
endif()
file(GLOB libraries ${moved}/lib*/lib*.so)
foreach(library ${libraries})
    expect_file(${library}.1)
endforeach()
expect_file(${moved}/share/man/man1/budget-file.1)
expect_file(${moved}/share/bash-completion/completions/budget-file)

run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${moved} -DCMAKE_BUILD_TYPE=Debug)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${WORK_DIR}/build/consumer)
if(NOT output MATCHES "budget.xml~")
    message(FATAL_ERROR "Unexpected output of the installed consumer:\n${output}")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
