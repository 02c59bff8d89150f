# The longest program: its cases run side by side.
quillnet_add_test(test_locking test_locking.cpp EACH_CASE)

# The latency shim the multi-process tests preload into their workers (and the calls benchmark
# into itself). Never instrumented: it is preloaded ahead of a sanitizer's runtime.
add_library(qnslow MODULE qnslow.cpp)
target_link_libraries(qnslow PRIVATE dl)
set_property(TARGET qnslow PROPERTY COMPILE_OPTIONS -Wall -Wextra -Wpedantic -Werror)
set_property(TARGET qnslow PROPERTY LINK_OPTIONS "")
set_property(TARGET qnslow PROPERTY PREFIX "")
add_dependencies(test_locking qnslow store_worker)
