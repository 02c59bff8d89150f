# One CTest test per test function and data row of a QtTest program, so that the cases of a long
# program run side by side under ctest -j instead of one after another. The program lists its
# cases (-datatags) after each link; CTest reads that list when it starts.
#
# As a script (cmake -P): writes the case list of EXE to OUT.

if(CMAKE_SCRIPT_MODE_FILE)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ${EXE} -datatags
    OUTPUT_VARIABLE listing RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${EXE} -datatags failed (${status})")
  endif()
  file(WRITE ${OUT} "${listing}")
  return()
endif()

set(quillnet_test_cases_script ${CMAKE_CURRENT_LIST_FILE})

# quillnet_add_test_cases(target environment): the cases of target as tests named
# target:function or target:function:row, each with the given environment and its own
# configuration folder.
function(quillnet_add_test_cases target environment)
  set(list ${CMAKE_CURRENT_BINARY_DIR}/${target}_cases.txt)
  set(include ${CMAKE_CURRENT_BINARY_DIR}/${target}_cases.cmake)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:${target}> -DOUT=${list}
      -P ${quillnet_test_cases_script}
    BYPRODUCTS ${list}
    VERBATIM)
  set(exe "$<TARGET_FILE:${target}>")
  string(CONFIGURE [=[
if(NOT EXISTS "@list@")
  add_test("@target@:not-built" "@target@:not-built")
  return()
endif()
file(STRINGS "@list@" lines)
set(n 0)
foreach(line IN LISTS lines)
  # "Class function" or "Class function row"
  if(NOT line MATCHES "^[^ ]+ ([^ ]+)( (.*))?$")
    continue()
  endif()
  set(case "${CMAKE_MATCH_1}")
  if(NOT "${CMAKE_MATCH_2}" STREQUAL "")
    string(APPEND case ":${CMAKE_MATCH_3}")
  endif()
  math(EXPR n "${n} + 1")
  add_test("@target@:${case}" "@exe@" "${case}")
  set_tests_properties("@target@:${case}" PROPERTIES
    ENVIRONMENT "@environment@;XDG_CONFIG_HOME=@CMAKE_BINARY_DIR@/test-config/@target@-${n}"
    TIMEOUT 600 COST 100)
endforeach()
if(n EQUAL 0)
  add_test("@target@:no-cases" "@target@:no-cases")
endif()
]=] content @ONLY)
  file(GENERATE OUTPUT ${include} CONTENT "${content}")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${include})
endfunction()
