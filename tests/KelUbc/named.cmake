# Function dictionary, named events, executed actions and property edits.
kelubc_add_test(tst_namedevents SWAP SOURCES tst_namedevents.cpp)
kelubc_add_test(tst_actions SWAP SOURCES tst_actions.cpp)
