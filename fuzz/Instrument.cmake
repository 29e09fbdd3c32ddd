# Included before anything is added: every library of a fuzz build carries
# coverage counters and the sanitizers, so a fault inside Qt-facing code of
# ours is found, not only in the fuzz targets themselves.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "KELUBC_BUILD_FUZZ needs clang: configure a build folder of its own "
                        "with CC=clang CXX=clang++ (scripts/fuzz.sh does)")
endif()
if(KELUBC_SANITIZE)
    message(FATAL_ERROR "KELUBC_BUILD_FUZZ brings its own sanitizers; leave KELUBC_SANITIZE off")
endif()
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined
                    -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_link_options(-fsanitize=address,undefined)
