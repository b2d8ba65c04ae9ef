# Runs tarvo-grammarc over the broken grammars in this directory and fails
# unless each one is rejected with the message its first line promises.
#
#   cmake -DGRAMMARC=path/to/tarvo-grammarc -DDIR=path/to/tests/grammarc
#         [-DSCHEMAS=path/to/src/schemas] -P run_negative.cmake
#
# First line of every test file: `# <what is wrong> -- expect: <text>`.
#   *.grammar     listed alone in a scratch catalogue; stderr must contain
#                 "<file name>:<text>", where <text> is "LINE: reason".
#   *.catalogue   used as the catalogue itself (grammars looked up in DIR);
#                 stderr must contain <text>, which names the file.
#   ok_*.grammar  must be accepted instead.
# Finally the real catalogue in SCHEMAS must pass.
cmake_minimum_required(VERSION 3.25)

foreach(var GRAMMARC DIR)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "run_negative.cmake: -D${var}=... is required")
    endif()
endforeach()
get_filename_component(DIR "${DIR}" ABSOLUTE)
if(NOT DEFINED SCHEMAS)
    get_filename_component(SCHEMAS "${DIR}/../../src/schemas" ABSOLUTE)
endif()

if(DEFINED ENV{TMPDIR})
    set(tmp_base "$ENV{TMPDIR}")
else()
    set(tmp_base "/tmp")
endif()
string(RANDOM LENGTH 8 suffix)
set(work "${tmp_base}/tarvo-grammarc-tests-${suffix}")
file(MAKE_DIRECTORY "${work}")

set(failures 0)
set(count 0)

# Runs the compiler twice, in --check mode and with --output; a rejected
# grammar must also leave no output file behind.
function(run_case label catalogue expect_ok expected)
    set(out "${work}/out.cpp")
    file(REMOVE "${out}")
    execute_process(COMMAND "${GRAMMARC}" --catalogue "${catalogue}" --schemas-dir "${DIR}" --check
                    RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_QUIET)
    execute_process(COMMAND "${GRAMMARC}" --catalogue "${catalogue}" --schemas-dir "${DIR}" --output "${out}"
                    RESULT_VARIABLE rc_out ERROR_QUIET OUTPUT_QUIET)
    set(problem "")
    if(expect_ok)
        if(NOT rc EQUAL 0 OR NOT rc_out EQUAL 0 OR NOT EXISTS "${out}")
            set(problem "expected success, got exit ${rc}/${rc_out}: ${err}")
        endif()
    else()
        string(FIND "${err}" "${expected}" at)
        if(rc EQUAL 0 OR rc MATCHES "[^0-9]")
            set(problem "expected failure, got exit '${rc}'")
        elseif(at EQUAL -1)
            set(problem "stderr lacks '${expected}', got: ${err}")
        elseif(rc_out EQUAL 0 OR EXISTS "${out}")
            set(problem "an output file was written despite the error")
        endif()
    endif()
    math(EXPR n "${count} + 1")
    set(count ${n} PARENT_SCOPE)
    if(problem)
        message(STATUS "FAIL ${label}: ${problem}")
        math(EXPR n "${failures} + 1")
        set(failures ${n} PARENT_SCOPE)
    else()
        message(STATUS "ok   ${label}")
    endif()
endfunction()

function(expectation file out_var)
    file(STRINGS "${file}" first LIMIT_COUNT 1)
    if(NOT first MATCHES "-- expect: (.+)$")
        message(FATAL_ERROR "${file}: first line lacks '-- expect: LINE: reason'")
    endif()
    set(${out_var} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

file(GLOB grammars RELATIVE "${DIR}" "${DIR}/*.grammar")
file(GLOB catalogues RELATIVE "${DIR}" "${DIR}/*.catalogue")
list(SORT grammars)
list(SORT catalogues)

foreach(name IN LISTS grammars)
    file(WRITE "${work}/catalogue.txt" "${name}\n")
    if(name MATCHES "^ok_")
        run_case("${name}" "${work}/catalogue.txt" TRUE "")
    else()
        expectation("${DIR}/${name}" expected)
        run_case("${name}" "${work}/catalogue.txt" FALSE "/${name}:${expected}")
    endif()
endforeach()

foreach(name IN LISTS catalogues)
    expectation("${DIR}/${name}" expected)
    run_case("${name}" "${DIR}/${name}" FALSE "${expected}")
endforeach()

execute_process(COMMAND "${GRAMMARC}" --catalogue "${SCHEMAS}/catalogue.txt" --schemas-dir "${SCHEMAS}" --check
                RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_QUIET)
math(EXPR count "${count} + 1")
if(rc EQUAL 0)
    message(STATUS "ok   real grammars in ${SCHEMAS}")
else()
    message(STATUS "FAIL real grammars in ${SCHEMAS}: exit ${rc}: ${err}")
    math(EXPR failures "${failures} + 1")
endif()

file(REMOVE_RECURSE "${work}")
if(failures GREATER 0)
    message(FATAL_ERROR "${failures} of ${count} grammar compiler checks failed")
endif()
message(STATUS "all ${count} grammar compiler checks passed")
