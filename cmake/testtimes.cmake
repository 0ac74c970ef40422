# How long each test usually takes, which orders the run and bounds each test.
# Included by the top-level CMakeLists.txt, so that every folder that declares
# a test can call vorn_test_time.

# Each test's usual time in seconds on a busy 2-core machine, plain build.
# ctest starts the longest first (COST), and fails a test that runs four
# times its usual time and a minute more (TIMEOUT), so that a stuck test
# ends the run early instead of holding it for a quarter of an hour; the
# sanitizers make a test up to three times slower. A test not named here
# takes a few seconds at most.
set(VORN_TEST_SECONDS
  screenshots=30 tst_e2e=30 tst_ctl_e2e=20 tst_gw_e2e=20 tst_feedback=12 tst_net_e2e=6 tst_mainwindow=6
  sim_process=5 tst_session=5)
if(CMAKE_CXX_FLAGS MATCHES "sanitize")
  set(VORN_TEST_SLOWDOWN 3)
else()
  set(VORN_TEST_SLOWDOWN 1)
endif()
# Called at the end of the folder that declares the test, after anything it
# set itself.
function(vorn_test_time test)
  set(seconds 3)
  foreach(entry ${VORN_TEST_SECONDS})
    if(entry MATCHES "^${test}=([0-9]+)$")
      set(seconds ${CMAKE_MATCH_1})
    endif()
  endforeach()
  math(EXPR cost "${seconds} * ${VORN_TEST_SLOWDOWN}")
  math(EXPR limit "${cost} * 4 + 60")
  set_tests_properties(${test} PROPERTIES COST ${cost} TIMEOUT ${limit})
endfunction()
