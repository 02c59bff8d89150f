quillnet_add_test(test_exchange test_exchange.cpp LIBS quillnet_program)
# The killed-import case runs the import in a second process.
add_dependencies(test_exchange store_worker)
