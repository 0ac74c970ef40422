# Checks that the committed translation is what lupdate makes of the sources
# now, and that it is complete. Run by CTest (test "translations"):
#
#   cmake -DLUPDATE=<lupdate> -DOPTIONS="<lupdate options>" -DSOURCES=<list file>
#         -DINCLUDE=<include dir> -DTS=<committed .ts> -DWORK=<scratch dir>
#         -P checktranslations.cmake
#
# lupdate updates a copy of the .ts in WORK; the copy must equal the
# committed file byte for byte (no string added, changed or gone since it was
# last updated), and no entry may be left unfinished.

foreach(var LUPDATE OPTIONS SOURCES INCLUDE TS WORK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "checktranslations: ${var} not given")
  endif()
endforeach()

get_filename_component(name "${TS}" NAME)
set(copy "${WORK}/${name}")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
file(COPY_FILE "${TS}" "${copy}")

separate_arguments(options UNIX_COMMAND "${OPTIONS}")
execute_process(
  COMMAND "${LUPDATE}" ${options} -I "${INCLUDE}" "@${SOURCES}" -ts "${copy}"
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "lupdate failed (${rc}):\n${out}${err}")
endif()
# lupdate warns of texts it cannot take in (a tr() it cannot place, a
# context it cannot resolve): they would never be translated.
if(err MATCHES "[Ww]arning")
  message(FATAL_ERROR "lupdate warns:\n${err}")
endif()

file(READ "${TS}" committed)
file(READ "${copy}" updated)
if(NOT committed STREQUAL updated)
  execute_process(COMMAND diff -u "${TS}" "${copy}" OUTPUT_VARIABLE diff)
  message(FATAL_ERROR
    "${name} is not up to date with the sources. Refresh it with\n"
    "  cmake --build --preset default --target update_translations\n"
    "translate the new entries (/usr/lib/qt6/bin/linguist ${TS}) and commit it.\n${diff}")
endif()

string(REGEX MATCHALL "<translation type=\"(unfinished|vanished|obsolete)\"" open "${committed}")
list(LENGTH open unfinished)
if(unfinished GREATER 0)
  message(FATAL_ERROR "${name}: ${unfinished} entries are not translated (or no longer used)")
endif()
string(REGEX MATCHALL "<translation></translation>|<numerusform></numerusform>" empty "${committed}")
list(LENGTH empty blank)
if(blank GREATER 0)
  message(FATAL_ERROR "${name}: ${blank} translations are empty")
endif()
message(STATUS "${name}: up to date, every entry translated")
