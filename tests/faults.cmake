quillnet_add_test(test_faults test_faults.cpp)
