# cmake -DBUILD_DIR=... -DCONSUMER_SOURCE=... -DWORK_DIR=... -P RunConsumer.cmake
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
