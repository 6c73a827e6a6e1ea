# Runs one xBase test program through vellum and compares what it writes with the expected
# files beside it: NAME.out (standard output, required), NAME.err (standard error, optional),
# NAME.exit (exit code, default 0), NAME.args (arguments, one per line, optional).
# Line ends are compared as line feeds; paths of the test directory are left out of messages.
# A program stopped because a subsystem of the run-time is not built yet counts as skipped.
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

# A subsystem the run-time does not have yet stops the program with an internal error that says
# so; the test is then reported as skipped (not passed) with the reason.
if(err MATCHES "Unrecoverable error 9000: ([^\n]* not available yet: [^\n]*)")
  message("SKIPPED: ${CMAKE_MATCH_1}")
  return()
endif()

string(REPLACE "\r\n" "\n" out "${out}")
string(REPLACE "\r\n" "\n" err "${err}")
string(REPLACE "${dir}/" "" err "${err}")

set(failed FALSE)
function(compare what actual expected_file)
  file(READ ${expected_file} expected)
  if(NOT actual STREQUAL expected)
    set(actual_file ${WORKDIR}/${name}.${what}.actual)
    file(WRITE ${actual_file} "${actual}")
    message("--- ${name}: ${what} differs from ${expected_file}")
    find_program(DIFF diff)
    if(DIFF)
      execute_process(COMMAND ${DIFF} -u ${expected_file} ${actual_file})
    else()
      message("expected:\n${expected}\nactual:\n${actual}")
    endif()
    set(failed TRUE PARENT_SCOPE)
  endif()
endfunction()

compare(out "${out}" ${dir}/${name}.out)
if(EXISTS ${dir}/${name}.err)
  compare(err "${err}" ${dir}/${name}.err)
elseif(NOT err STREQUAL "")
  message("--- ${name}: standard error:\n${err}")
endif()
if(NOT rc STREQUAL expected_exit)
  message("--- ${name}: exit code ${rc}, expected ${expected_exit}")
  set(failed TRUE)
endif()
if(failed)
  message(FATAL_ERROR "${name}.prg failed")
endif()
