# cmake -DBUILD_DIR=... -DCONSUMER_SOURCE=... -DWORK_DIR=... -P RunConsumer.cmake
cmake_policy(VERSION 3.16)
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "Failed (${rc}): ${ARGN}\n${out}\n${err}")
    endif()
    set(last_output "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
set(cross)
set(exe)
if(CONSUMER_TOOLCHAIN)
    set(cross -DCMAKE_TOOLCHAIN_FILE=${CONSUMER_TOOLCHAIN} -DQT_MINGW_PREFIX=${QT_MINGW_PREFIX} -DKELUBC_MINGW_DEPS=${prefix})
    set(exe .exe)
    set(prefix_path "${prefix};${QT_MINGW_PREFIX}")
    # The install is self-contained: its bin/ is all the DLLs the programs get.
    set(ENV{WINEPATH} "${prefix}/bin")
else()
    set(prefix_path ${prefix})
endif()
run(${CMAKE_COMMAND} -S ${CONSUMER_SOURCE} -B ${WORK_DIR}/build -G ${CMAKE_GENERATOR} ${cross}
    "-DCMAKE_PREFIX_PATH=${prefix_path}" -DKELUBC_PACKAGE=${KELUBC_PACKAGE}
    # Sanitized libraries need the sanitizer runtime loaded first.
    "-DCMAKE_CXX_FLAGS=${CONSUMER_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)

# The consumer loads the installed libraries through their own run paths.
set(log ${WORK_DIR}/records.jsonl)
run(${EMULATOR} ${WORK_DIR}/build/consumer${exe} ${log})
file(STRINGS ${log} lines ENCODING UTF-8)
list(LENGTH lines count)
if(NOT count EQUAL 3)
    message(FATAL_ERROR "Expected 3 records in ${log}, found ${count}")
endif()
foreach(code 990007 990001 990002)
    list(POP_FRONT lines line)
    if(NOT line MATCHES "\"fncode\":\"${code}\"" OR NOT line MATCHES "\"fngroup\":\"Special function\"")
        message(FATAL_ERROR "Expected record ${code}, got: ${line}")
    endif()
endforeach()
message(STATUS "Installed KelUbc works from a find_package consumer")

# The example host, as the integration guide quotes it: each block marked
# "<!-- file: NAME -->" must be the example's file NAME, and the host is
# built from the guide's blocks with the example's other files.
set(guide_host ${WORK_DIR}/guide-host)
file(COPY ${EXAMPLE_SOURCE}/ DESTINATION ${guide_host})
file(READ ${GUIDE} guide)
set(quoted 0)
while(TRUE)
    string(FIND "${guide}" "<!-- file: " at)
    if(at EQUAL -1)
        break()
    endif()
    math(EXPR at "${at} + 11")
    string(SUBSTRING "${guide}" ${at} -1 guide)
    string(FIND "${guide}" " -->" end)
    string(SUBSTRING "${guide}" 0 ${end} name)
    string(FIND "${guide}" "```" fence)
    string(SUBSTRING "${guide}" ${fence} -1 guide)
    string(FIND "${guide}" "\n" line_end)
    math(EXPR line_end "${line_end} + 1")
    string(SUBSTRING "${guide}" ${line_end} -1 guide)
    string(FIND "${guide}" "```" fence)
    string(SUBSTRING "${guide}" 0 ${fence} block)
    string(SUBSTRING "${guide}" ${fence} -1 guide)
    file(READ ${EXAMPLE_SOURCE}/${name} original)
    if(NOT block STREQUAL original)
        message(FATAL_ERROR "The guide's ${name} differs from examples/minimal-host/${name}")
    endif()
    file(WRITE ${guide_host}/${name} "${block}")
    math(EXPR quoted "${quoted} + 1")
endwhile()
if(quoted LESS 2)
    message(FATAL_ERROR "The guide quotes ${quoted} files of the example, not CMakeLists.txt and main.cpp")
endif()

# Built from the installed package with its dictionary and played headless;
# each command carries the place it was started from.
run(${CMAKE_COMMAND} -S ${guide_host} -B ${WORK_DIR}/example -G ${CMAKE_GENERATOR} ${cross}
    "-DCMAKE_PREFIX_PATH=${prefix_path}" -DKELUBC_PACKAGE=${KELUBC_PACKAGE} "-DCMAKE_CXX_FLAGS=${CONSUMER_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/example)
if(NOT EXISTS ${WORK_DIR}/example/KelUbc.db)
    message(FATAL_ERROR "kelubc_add_dictionary left no KelUbc.db beside the example")
endif()
set(home ${WORK_DIR}/home)
if(EMULATOR)
    # Windows keeps the log under %LOCALAPPDATA% and the settings (the
    # consent given) in the registry, both in the Wine prefix: the example's
    # are removed first, so it starts as a new user does. Wine hands the
    # program only the Qt settings spelt WINEQT_*.
    run(${EMULATOR} cmd /c echo %LOCALAPPDATA%)
    string(STRIP "${last_output}" appdata)
    run(${EMULATOR} winepath -u "${appdata}")
    string(STRIP "${last_output}" appdata)
    if(NOT IS_DIRECTORY "${appdata}")
        message(FATAL_ERROR "Wine's %LOCALAPPDATA% is not a folder here: '${appdata}'")
    endif()
    file(REMOVE_RECURSE ${appdata}/Example/minimal-host)
    execute_process(COMMAND ${EMULATOR} reg delete "HKCU\\Software\\Example\\minimal-host" /f OUTPUT_QUIET ERROR_QUIET)
    set(log ${appdata}/Example/minimal-host/ubc/records.jsonl)
    set(qt WINEQT_)
    # The platform plugins from the install too, as a host ships them.
    set(ENV{WINEQT_PLUGIN_PATH} "${prefix}/bin")
else()
    set(log ${home}/data/Example/minimal-host/ubc/records.jsonl)
    set(qt QT_)
endif()
run(${CMAKE_COMMAND} -E env ${qt}QPA_PLATFORM=offscreen XDG_DATA_HOME=${home}/data XDG_CONFIG_HOME=${home}/config
    ${qt}LOGGING_RULES=default.info=false
    ${EMULATOR} ${WORK_DIR}/example/minimal-host${exe} --scenario --lang=en)
file(STRINGS ${log} lines ENCODING UTF-8)
set(seen "")
foreach(line IN LISTS lines)
    if(line MATCHES "\"fncode\":\"(2[0-9]+)\".*\"fngroup\":\"([^\"]*)\".*\"location\":\"([^\"]*)\"")
        list(APPEND seen "${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3}")
    endif()
endforeach()
set(expected
    "210101 Drawing Toolbar" "210101 Drawing Menu bar" "210101 Drawing Shortcut key" "210101 Drawing Right-click menu"
    "210201 Edit Right-click menu" "210201 Edit Toolbar" "210201 Edit Menu bar" "210201 Edit Shortcut key")
if(NOT seen STREQUAL expected)
    message(FATAL_ERROR "The example's commands and places:\n  ${seen}\nexpected:\n  ${expected}")
endif()
foreach(code 990007 990001 990003 310101 990006 990002)
    if(NOT lines MATCHES "\"fncode\":\"${code}\"")
        message(FATAL_ERROR "The example logged no record ${code}")
    endif()
endforeach()
message(STATUS "The example host logs each command with its place")

# The installed demo finds its dictionary beside it: the wall drawn from the
# ribbon carries its group from KelUbc.db, not the "null" of a missing one.
if(CONSUMER_TOOLCHAIN)
    set(DEMO_NAME ${DEMO_NAME}${exe})
endif()
if(EXISTS ${prefix}/bin/${DEMO_NAME})
    run(${EMULATOR} ${prefix}/bin/${DEMO_NAME} --scenario --out ${WORK_DIR}/demo)
    file(STRINGS ${WORK_DIR}/demo/records.jsonl lines ENCODING UTF-8 REGEX "\"fncode\":\"210101\"")
    if(NOT lines OR NOT lines MATCHES "\"fngroup\":\"绘图\"")
        message(FATAL_ERROR "The installed demo logged the wall without its dictionary group: ${lines}")
    endif()
    message(STATUS "The installed demo reads its dictionary")
endif()
