# Turns Google Benchmark's JSON report into tab-separated rows for bench/run-all.sh:
#   "<program>/<benchmark name>, <target>, <real time> <unit>, -, <user counters>"
# Every member of a benchmark entry that Google Benchmark does not define itself is a user counter
# (e.g. a nominal time set beside the measured one) and is listed as name=value.
# Usage: cmake -DJSON=<report> -DPROGRAM=<name> -DTARGET=<target> -DOUTPUT=<rows file>
#          -P benchmark_rows.cmake
# The rows are appended to OUTPUT.
cmake_minimum_required(VERSION 3.20)
file(READ ${JSON} report)
set(standard_members name family_index per_family_instance_index run_name run_type repetitions
    repetition_index threads iterations real_time cpu_time time_unit aggregate_name
    aggregate_unit label error_occurred error_message bytes_per_second items_per_second)
string(JSON count ERROR_VARIABLE error LENGTH "${report}" benchmarks)
if(error)
  message(FATAL_ERROR "${JSON}: no benchmarks in the report (${error})")
endif()
if(count EQUAL 0)
  return()
endif()
math(EXPR last "${count} - 1")
foreach(i RANGE ${last})
  string(JSON entry GET "${report}" benchmarks ${i})
  string(JSON name GET "${entry}" name)
  string(JSON failed ERROR_VARIABLE no_error GET "${entry}" error_occurred)
  if(failed)
    string(JSON why GET "${entry}" error_message)
    set(value "failed: ${why}")
  else()
    string(JSON real_time GET "${entry}" real_time)
    string(JSON unit GET "${entry}" time_unit)
    # Three decimals are plenty for a table.
    string(REGEX REPLACE "^([0-9]+\\.[0-9][0-9]?[0-9]?)[0-9]*" "\\1" real_time "${real_time}")
    set(value "${real_time} ${unit}")
  endif()
  string(JSON members LENGTH "${entry}")
  math(EXPR last_member "${members} - 1")
  set(counters "")
  foreach(m RANGE ${last_member})
    string(JSON key MEMBER "${entry}" ${m})
    if(NOT key IN_LIST standard_members)
      string(JSON counter GET "${entry}" ${key})
      list(APPEND counters "${key}=${counter}")
    endif()
  endforeach()
  if(counters STREQUAL "")
    set(counters "-")
  endif()
  string(REPLACE ";" " " counters "${counters}")
  file(APPEND ${OUTPUT} "${PROGRAM}/${name}\t${TARGET}\t${value}\t-\t${counters}\n")
endforeach()
