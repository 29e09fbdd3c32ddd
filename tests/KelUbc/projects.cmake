kelubc_add_test(tst_modeldata SWAP SOURCES tst_modeldata.cpp)
kelubc_add_test(tst_session SOURCES tst_session.cpp LIBS KelUbc RuvUbc KelGeneralUtility KelUbcHost)
