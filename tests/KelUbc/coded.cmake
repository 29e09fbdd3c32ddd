# Coded events to the host's helper, and the application event watcher.
kelubc_add_test(tst_codedevents SWAP SOURCES tst_codedevents.cpp LIBS KelUbcHost)
kelubc_add_test(tst_watcher SWAP SOURCES tst_watcher.cpp LIBS KelUbcHost Qt5::Widgets
    ENV "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/offscreen-lsan.supp:print_suppressions=0")
