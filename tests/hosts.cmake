quillnet_add_test(test_hosts test_hosts.cpp LIBS quillnet_program)
