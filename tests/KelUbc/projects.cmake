kelubc_add_test(tst_modeldata SWAP SOURCES tst_modeldata.cpp)
