# What keeps a build from scratch short on a machine with two cores:
#
# - the libraries are unity builds: their sources are compiled a few at a
#   time as one unit, so the Qt headers are read a few times instead of once
#   per file (vorn_unity);
# - the tests' Qt headers are precompiled twice for all of them: once for the
#   tests on Qt Core, Network and SerialPort, once for those on the window
#   (vorn_test_pch, tests/CMakeLists.txt). Every test compiles with the same
#   flags as the target that owns the header, which is why the tests' own
#   QT_TESTCASE_BUILDDIR/SOURCEDIR (QFINDTESTDATA's folders, which no test
#   uses) are left undefined: they differ from folder to folder.
#
# VORNRT8_FAST_BUILD=OFF turns both off (e.g. to find a missing #include).
option(VORNRT8_FAST_BUILD "Unity builds for the libraries, precompiled Qt headers for the tests" ON)

# ccache can only take compilations that use a precompiled header when it is
# told that their time macros and the header's defines may be ignored.
if(CMAKE_CXX_COMPILER_LAUNCHER MATCHES "ccache" AND NOT CMAKE_CXX_COMPILER_LAUNCHER MATCHES "SLOPPINESS")
  set(CMAKE_CXX_COMPILER_LAUNCHER
      ${CMAKE_COMMAND} -E env "CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime"
      ${CMAKE_CXX_COMPILER_LAUNCHER})
endif()

# vorn_unity(<target>...): compile the target's sources in batches of four.
function(vorn_unity)
  if(NOT VORNRT8_FAST_BUILD)
    return()
  endif()
  foreach(t ${ARGN})
    set_target_properties(${t} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 4)
  endforeach()
endfunction()
