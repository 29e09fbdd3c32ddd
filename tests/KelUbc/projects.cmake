kelubc_add_test(tst_modeldata SWAP SOURCES tst_modeldata.cpp)
kelubc_add_test(tst_projects SWAP SOURCES tst_projects.cpp)
