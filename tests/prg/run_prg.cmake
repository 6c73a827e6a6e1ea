# Runs one xBase test program through vellum and compares what it writes with the expected
# files beside it: NAME.out (standard output, required), NAME.err (standard error, optional),
# NAME.exit (exit code, default 0), NAME.args (arguments, one per line, optional).
# Line ends are compared as line feeds; paths of the test directory are left out of messages.
# A test that fails while the run-time lacks a subsystem, or one of the functions every program
# needs, counts as skipped, with the reason.
#
#   cmake -DVELLUM=... -DPRG=.../NAME.prg -DWORKDIR=... -P run_prg.cmake
cmake_minimum_required(VERSION 3.25)

get_filename_component(dir ${PRG} DIRECTORY)
get_filename_component(name ${PRG} NAME_WE)
file(REMOVE_RECURSE ${WORKDIR})
file(MAKE_DIRECTORY ${WORKDIR})

set(args)
if(EXISTS ${dir}/${name}.args)
  file(STRINGS ${dir}/${name}.args args)
endif()
set(expected_exit 0)
if(EXISTS ${dir}/${name}.exit)
  file(STRINGS ${dir}/${name}.exit expected_exit LIMIT_COUNT 1)
endif()

execute_process(COMMAND ${VELLUM} ${PRG} ${args}
  WORKING_DIRECTORY ${WORKDIR}
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc
  TIMEOUT 60)

string(REPLACE "\r\n" "\n" out "${out}")
string(REPLACE "\r\n" "\n" err "${err}")
string(REPLACE "${dir}/" "" err "${err}")

set(report "")
function(compare what actual expected_file)
  file(READ ${expected_file} expected)
  if(NOT actual STREQUAL expected)
    set(actual_file ${WORKDIR}/${name}.${what}.actual)
    file(WRITE ${actual_file} "${actual}")
    set(text "--- ${name}: ${what} differs from ${expected_file}\n")
    find_program(DIFF diff)
    if(DIFF)
      execute_process(COMMAND ${DIFF} -u ${expected_file} ${actual_file} OUTPUT_VARIABLE d)
      string(APPEND text "${d}")
    else()
      string(APPEND text "expected:\n${expected}\nactual:\n${actual}\n")
    endif()
    set(report "${report}${text}" PARENT_SCOPE)
  endif()
endfunction()

compare(out "${out}" ${dir}/${name}.out)
if(EXISTS ${dir}/${name}.err)
  compare(err "${err}" ${dir}/${name}.err)
endif()
if(NOT rc STREQUAL expected_exit)
  string(APPEND report "--- ${name}: exit code ${rc}, expected ${expected_exit}\n")
endif()
if(report STREQUAL "")
  return()
endif()

# It failed: because the run-time is not complete yet, or for real?
if(err MATCHES "Unrecoverable error 9000: ([^\n]* not available yet: [^\n]*)")
  message("SKIPPED: ${CMAKE_MATCH_1}")
  return()
endif()
# The programs print with QOUT and QQOUT, and the default error handler reports through CSTR.
file(WRITE ${WORKDIR}/_probe.prg [=[
LOCAL cMissing := "", cName, nHandle
FOR EACH cName IN {"QOUT", "QQOUT", "CSTR"}
   IF VALTYPE(VL_FUNCPTR(cName)) == "N"
      cMissing += " " + cName
   ENDIF
NEXT
nHandle := FCREATE("_missing.txt")
FWRITE(nHandle, cMissing)
FCLOSE(nHandle)
]=])
execute_process(COMMAND ${VELLUM} _probe.prg WORKING_DIRECTORY ${WORKDIR}
  OUTPUT_QUIET ERROR_QUIET TIMEOUT 60)
if(EXISTS ${WORKDIR}/_missing.txt)
  file(READ ${WORKDIR}/_missing.txt missing)
  if(NOT missing STREQUAL "")
    message("SKIPPED: the run-time has no function${missing} yet")
    return()
  endif()
endif()

message("${report}")
if(NOT err STREQUAL "" AND NOT EXISTS ${dir}/${name}.err)
  message("--- ${name}: standard error:\n${err}")
endif()
message(FATAL_ERROR "${name}.prg failed")
