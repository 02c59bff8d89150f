# Snapshots and restore: rules, a second process (store_worker, under the latency shim) and the
# Admin window's entry.
quillnet_add_test(test_snapshots test_snapshots.cpp LIBS quillnet_program)
add_dependencies(test_snapshots qnslow store_worker)
