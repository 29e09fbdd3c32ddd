# A Windows install is self-contained: beside the programs and DLLs go the Qt
# DLLs and plugins they load and MinGW's runtime DLLs. Qt looks for plugins
# in folders beside the executable (platforms/, sqldrivers/).
get_target_property(kelubc_qtcore ${KELUBC_QT}::Core IMPORTED_LOCATION_RELEASE)
if(NOT kelubc_qtcore)
    get_target_property(kelubc_qtcore ${KELUBC_QT}::Core LOCATION)
endif()
get_filename_component(kelubc_qt_bin "${kelubc_qtcore}" DIRECTORY)
get_filename_component(kelubc_qt_plugins "${kelubc_qt_bin}/../plugins" ABSOLUTE)

set(kelubc_qt_modules Core Sql Network Gui Widgets)
if(KELUBC_BUILD_APPS)
    list(APPEND kelubc_qt_modules Test) # the demo plays its scenario through Qt Test
endif()
foreach(module ${kelubc_qt_modules})
    install(FILES "${kelubc_qt_bin}/Qt${KELUBC_QT_MAJOR}${module}.dll" DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()
install(FILES "${kelubc_qt_plugins}/sqldrivers/qsqlite.dll" DESTINATION ${CMAKE_INSTALL_BINDIR}/sqldrivers)
install(FILES "${kelubc_qt_plugins}/platforms/qoffscreen.dll" "${kelubc_qt_plugins}/platforms/qminimal.dll"
        DESTINATION ${CMAKE_INSTALL_BINDIR}/platforms OPTIONAL)
install(FILES "${kelubc_qt_plugins}/platforms/qwindows.dll" DESTINATION ${CMAKE_INSTALL_BINDIR}/platforms OPTIONAL)

foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll zlib1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE kelubc_runtime_dll OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(IS_ABSOLUTE "${kelubc_runtime_dll}" AND EXISTS "${kelubc_runtime_dll}")
        install(FILES "${kelubc_runtime_dll}" DESTINATION ${CMAKE_INSTALL_BINDIR})
    else()
        message(WARNING "${dll} not found beside the compiler; the install will need it on PATH")
    endif()
endforeach()
