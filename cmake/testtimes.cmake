# How long each test usually takes, which orders the run and bounds each test.
# Included by the top-level CMakeLists.txt, so that every folder that declares
# a test can call vorn_test_time.

# Each test's usual time in seconds on a busy 2-core machine: in the plain
# build, and after a slash under the sanitizers where that is more than
# three times as long (the window's tests run ten to fifteen times slower
# there). ctest starts the longest first (COST), and fails a test that runs
# three times its usual time and half a minute more (TIMEOUT), so that a
# stuck test ends the run early instead of holding it for a quarter of an
# hour. A test not named here takes a few seconds at most.
set(VORN_TEST_SECONDS
  screenshots=20 tst_e2e=25/35 tst_ctl_e2e=40/90 tst_gw_e2e=75/100 tst_feedback=13/115 tst_hostile=5/75
  tst_table_look=2/20 tst_mainwindow=6/15 tst_net_e2e=6 sim_process=5 tst_session=5 tst_streamkeeper=20/25
  tst_gw_faces=20/30 tst_gw_modbus=50/70)
if(CMAKE_CXX_FLAGS MATCHES "sanitize")
  set(VORN_TEST_SANITIZED ON)
else()
  set(VORN_TEST_SANITIZED OFF)
endif()
# Called at the end of the folder that declares the test, after anything it
# set itself.
function(vorn_test_time test)
  set(plain 3)
  set(sanitized "")
  foreach(entry ${VORN_TEST_SECONDS})
    if(entry MATCHES "^${test}=([0-9]+)(/([0-9]+))?$")
      set(plain ${CMAKE_MATCH_1})
      set(sanitized ${CMAKE_MATCH_3})
    endif()
  endforeach()
  if(NOT VORN_TEST_SANITIZED)
    set(cost ${plain})
  elseif(sanitized)
    set(cost ${sanitized})
  else()
    math(EXPR cost "${plain} * 3")
  endif()
  math(EXPR limit "${cost} * 3 + 30")
  set_tests_properties(${test} PROPERTIES COST ${cost} TIMEOUT ${limit})
endfunction()
