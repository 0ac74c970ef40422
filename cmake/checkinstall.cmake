# Installs a build tree into a fresh prefix and checks what lands there: the
# four programs, which run from it, and what a Linux desktop expects (desktop
# entry, icons at their sizes, AppStream metadata, manual pages, Debian
# documents); no test, test double or benchmark. Run by CTest (test
# "install_tree"):
#
#   cmake -DBUILD_DIR=<build tree> -DPREFIX=<scratch prefix> [-DGATEWAY=OFF] -P checkinstall.cmake

foreach(var BUILD_DIR PREFIX)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "checkinstall: ${var} not given")
  endif()
endforeach()

file(REMOVE_RECURSE "${PREFIX}")
execute_process(
  COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${rc}):\n${out}${err}")
endif()

set(expected
  bin/rt8ctl
  bin/rt8gw
  bin/rt8sim
  bin/vornrt8
  share/applications/org.vornrt8.VornRT8.desktop
  share/doc/vornrt8/README.Debian
  share/doc/vornrt8/changelog.Debian.gz
  share/doc/vornrt8/copyright
  share/doc/vornrt8/rt8gw.json.example
  share/icons/hicolor/256x256/apps/vornrt8.png
  share/icons/hicolor/48x48/apps/vornrt8.png
  share/icons/hicolor/scalable/apps/vornrt8.svg
  share/man/man1/rt8ctl.1.gz
  share/man/man1/rt8gw.1.gz
  share/man/man1/rt8sim.1.gz
  share/man/man1/vornrt8.1.gz
  share/metainfo/org.vornrt8.VornRT8.metainfo.xml
  lib/systemd/system/rt8gw.service)
# program|option|what its output holds
set(runs "vornrt8|--version|1.0" "rt8ctl|--help|tcp://HOST:PORT" "rt8sim|--help|Usage" "rt8ctl|--version|1.0"
    "rt8gw|--version|1.0")
# Built without the gateway (VORNRT8_GATEWAY off): nothing of it.
if(DEFINED GATEWAY AND NOT GATEWAY)
  list(FILTER expected EXCLUDE REGEX "rt8gw")
  list(FILTER runs EXCLUDE REGEX "^rt8gw[|]")
endif()
file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE "${PREFIX}" "${PREFIX}/*")
set(missing ${expected})
list(REMOVE_ITEM missing ${found})
set(unexpected ${found})
list(REMOVE_ITEM unexpected ${expected})
if(missing OR unexpected)
  list(JOIN missing "\n  " m)
  list(JOIN unexpected "\n  " u)
  message(FATAL_ERROR "install tree differs\nmissing:\n  ${m}\nnot expected:\n  ${u}")
endif()

# Each icon at its size: a PNG's width and height stand in its first chunk.
foreach(size 48 256)
  set(icon "${PREFIX}/share/icons/hicolor/${size}x${size}/apps/vornrt8.png")
  file(READ "${icon}" head LIMIT 24 HEX)
  string(SUBSTRING "${head}" 0 16 signature)
  string(SUBSTRING "${head}" 32 8 w)
  string(SUBSTRING "${head}" 40 8 h)
  math(EXPR w "0x${w}")
  math(EXPR h "0x${h}")
  if(NOT signature STREQUAL "89504e470d0a1a0a" OR NOT w EQUAL size OR NOT h EQUAL size)
    message(FATAL_ERROR "${icon}: not a ${size}x${size} PNG (${w}x${h})")
  endif()
endforeach()

# The installed programs run from the prefix.
foreach(entry IN LISTS runs)
  string(REPLACE "|" ";" run "${entry}")
  list(GET run 0 program)
  list(GET run 1 option)
  list(GET run 2 needle)
  execute_process(
    COMMAND "${PREFIX}/bin/${program}" ${option}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
  string(FIND "${out}${err}" "${needle}" at)
  if(NOT rc EQUAL 0 OR at LESS 0)
    message(FATAL_ERROR "${program} ${option}: exit ${rc}, no \"${needle}\" in:\n${out}${err}")
  endif()
endforeach()

message(STATUS "install tree complete: ${PREFIX}")
