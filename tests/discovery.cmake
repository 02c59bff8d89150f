quillnet_add_test(test_discovery test_discovery.cpp LIBS quillnet_discovery Qt6::Network)
quillnet_add_test(test_discovery_resolver test_discovery_resolver.cpp
  LIBS quillnet_discovery Qt6::Network)
