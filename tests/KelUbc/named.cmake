# Function dictionary, named events, executed actions and property edits.
kelubc_add_test(tst_namedevents SWAP SOURCES tst_namedevents.cpp)
