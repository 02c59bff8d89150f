# The logic, reconciliation, resolver, window and netview.sh tests share one program and its
# namespaces.
quillnet_add_test(test_discovery test_discovery.cpp test_discovery_resolver.cpp
  test_discovery_windows.cpp test_discovery_netview.cpp LIBS quillnet_program)
