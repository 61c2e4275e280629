# Installs the project into a scratch prefix, moves the prefix elsewhere, and checks that what
# was installed works from there: the tool runs and writes a budget, the headers sit under one
# folder of the project's, every shared library has a version in its soname, the manual page and
# the completion script are in place, and an application builds against the package with
# find_package (with the include lines of this release and of the last) and with pkg-config.
# First it configures the sources as the README's install commands do, without the test
# dependencies, to show that installing needs none of them, for the system's prefix, where no
# installed file may carry a run path but the folder of a Qt outside the system's library folders.
#
# Everything uses the Qt that the project was built with (QT_DIR, its CMake package folder;
# QT_LIBRARY, its Core library; QT_RUN_PATH, its library folder when the dynamic linker does not
# search that folder anyway, else empty), as an application built against that Qt would.
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
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON
    -DCMAKE_INSTALL_PREFIX=/usr -DQt6_DIR=${QT_DIR})
file(GLOB_RECURSE scripts ${WORK_DIR}/configure/cmake_install.cmake)
foreach(script ${scripts})
    file(STRINGS ${script} runPaths REGEX "(^|[ \t])(NEW_)?RPATH \"")
    foreach(runPath ${runPaths})
        string(REGEX REPLACE ".*RPATH \"([^\"]*)\".*" "\\1" runPath "${runPath}")
        if(NOT runPath STREQUAL QT_RUN_PATH)
            message(FATAL_ERROR "The run path \"${runPath}\" for the system's prefix in "
                                "${script}, not \"${QT_RUN_PATH}\"")
        endif()
    endforeach()
endforeach()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
file(RENAME ${prefix} ${moved})

# The installed tool loads the Qt it was built with, not one that the system has besides.
find_program(LDD ldd)
if(LDD)
    run(${LDD} ${moved}/bin/budget-file)
    if(NOT output MATCHES "libQt6Core\\.so\\.6 => ([^ \n]+)")
        message(FATAL_ERROR "The installed tool does not load Qt Core:\n${output}")
    endif()
    file(REAL_PATH ${CMAKE_MATCH_1} loaded)
    file(REAL_PATH ${QT_LIBRARY} built)
    if(NOT loaded STREQUAL built)
        message(FATAL_ERROR "The installed tool loads ${loaded}, not ${built}:\n${output}")
    endif()
endif()
run(${moved}/bin/budget-file sample ${WORK_DIR}/budget.xml --transactions 20)
run(${moved}/bin/budget-file check ${WORK_DIR}/budget.xml)
if(NOT output MATCHES "OK: ")
    message(FATAL_ERROR "The installed tool did not check its sample:\n${output}")
endif()

foreach(header money/Currency.h storage/Storage.h)
    expect_file(${moved}/include/zel/${header})
endforeach()
# The library's public headers, with their old include lines, and nothing beneath them.
set(public BudgetDocumentInspection.h BudgetDocumentSalvage.h BudgetFile.h Errors.h ExchangeRatesFile.h Export.h SaveFile.h)
foreach(folder include/zel/file-storage include/zel/old-include-lines/file-storage)
    file(GLOB installed LIST_DIRECTORIES true RELATIVE ${moved}/${folder} ${moved}/${folder}/*)
    if(NOT installed STREQUAL "${public}")
        message(FATAL_ERROR "Installed in ${folder}: ${installed}; the public headers: ${public}")
    endif()
endforeach()
file(GLOB stray LIST_DIRECTORIES true ${moved}/include/*)
if(NOT stray STREQUAL "${moved}/include/zel")
    message(FATAL_ERROR "Headers outside include/zel: ${stray}")
endif()
# Users name include/zel in their include lines: the package puts include on the path, once.
file(GLOB_RECURSE targets ${moved}/lib*/cmake/ZelFileStorage/ZelFileStorageTargets.cmake)
file(STRINGS ${targets} includePaths REGEX "INTERFACE_INCLUDE_DIRECTORIES")
foreach(includePath ${includePaths})
    if(NOT includePath MATCHES "\"\\\${_IMPORT_PREFIX}/include\"$")
        message(FATAL_ERROR "An include path other than include: ${includePath}")
    endif()
endforeach()
expect_file(${moved}/lib/pkgconfig/zel-file-storage.pc)
file(GLOB libraries ${moved}/lib*/lib*.so)
foreach(library ${libraries})
    expect_file(${library}.1)
endforeach()
expect_file(${moved}/share/man/man1/budget-file.1)
expect_file(${moved}/share/bash-completion/completions/budget-file)

run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${moved} -DQt6_DIR=${QT_DIR} -DCMAKE_BUILD_TYPE=Debug)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${WORK_DIR}/build/old-include-lines)
# The package's folder is added to the PKG_CONFIG_PATH of the environment, which names Qt's
# folder when that Qt is not the system's.
set(pkgConfigPath ${moved}/lib/pkgconfig)
if(NOT "$ENV{PKG_CONFIG_PATH}" STREQUAL "")
    string(APPEND pkgConfigPath ":$ENV{PKG_CONFIG_PATH}")
endif()
find_program(PKG_CONFIG pkg-config REQUIRED)
run(${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${pkgConfigPath} ${PKG_CONFIG} --modversion Qt6Core)
string(STRIP "${output}" pkgConfigQt)
if(NOT pkgConfigQt VERSION_EQUAL QT_VERSION)
    message(FATAL_ERROR "pkg-config finds Qt ${pkgConfigQt}, the project was built with Qt "
                        "${QT_VERSION}: PKG_CONFIG_PATH must name the pkgconfig folder of that Qt")
endif()
run(${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${pkgConfigPath}
    ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build-pkg-config -G ${GENERATOR}
    -DWITH_PKG_CONFIG=ON -DCMAKE_BUILD_TYPE=Debug)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build-pkg-config)
foreach(consumer ${WORK_DIR}/build/consumer ${WORK_DIR}/build-pkg-config/consumer)
    run(${consumer})
    if(NOT output MATCHES "budget.xml~")
        message(FATAL_ERROR "Unexpected output of ${consumer}:\n${output}")
    endif()
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
