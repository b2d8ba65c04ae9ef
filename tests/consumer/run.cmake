# Builds and runs the consumer project in this directory against tarvo.
#
#   cmake -DMODE=package|subdirectory -DSOURCE=<tarvo source> -DBUILD=<tarvo build tree>
#         -DWORK=<scratch directory> -DGENERATOR=<generator> -DCXX=<compiler> -P run.cmake
#
# package: installs BUILD into a prefix, moves the prefix (the package must
#   not depend on where it was installed), then builds the consumer as C++17
#   code with find_package(tarvo CONFIG), and again with the flags of
#   pkg-config --cflags --libs tarvo.
# subdirectory: builds the consumer with add_subdirectory(SOURCE) and tarvo
#   as a shared library, with the tarvo command beside it, which must work
#   with only the exported API; then installs that build, moves it, and runs
#   the installed command and a pkg-config program linked to the shared
#   library.
# python: installs BUILD into a prefix and builds the Python module from
#   SOURCE/src/binding against it (python/), for the interpreter -DPYTHON=...,
#   then imports it and reads a document.
cmake_minimum_required(VERSION 3.25)
foreach(var MODE SOURCE BUILD WORK GENERATOR CXX)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "run.cmake: -D${var}=... is required")
  endif()
endforeach()
file(STRINGS "${SOURCE}/VERSION" version LIMIT_COUNT 1)
set(document "${SOURCE}/examples/heatmap/order_handling_durations.xml")
set(expected "^tarvo ${version}: valid, 7 elements, C\\+\\+ 202002\n$")

function(step what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

function(run_consumer what exe)
  step("${what}: running the consumer" "${exe}" "${document}")
  if(NOT output MATCHES "${expected}")
    message(FATAL_ERROR "${what}: the consumer printed '${output}', expected '${expected}'")
  endif()
  message(STATUS "${what}: ${output}")
endfunction()

file(REMOVE_RECURSE "${WORK}")
set(consumer_args -G "${GENERATOR}" -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_BUILD_TYPE=Release)

if(MODE STREQUAL "package")
  step("install" "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${WORK}/installed")
  file(RENAME "${WORK}/installed" "${WORK}/moved")
  set(prefix "${WORK}/moved")

  step("find_package: configure" "${CMAKE_COMMAND}" -S "${CMAKE_CURRENT_LIST_DIR}" -B "${WORK}/find_package"
       ${consumer_args} -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_STANDARD=17)
  step("find_package: build" "${CMAKE_COMMAND}" --build "${WORK}/find_package")
  run_consumer("find_package, C++17 consumer" "${WORK}/find_package/consumer")

  find_program(PKG_CONFIG pkg-config REQUIRED)
  file(GLOB_RECURSE pc_file "${prefix}/*/tarvo.pc")
  get_filename_component(pc_dir "${pc_file}" DIRECTORY)
  step("pkg-config" "${CMAKE_COMMAND}" -E env "PKG_CONFIG_PATH=${pc_dir}" "${PKG_CONFIG}" --cflags --libs tarvo)
  separate_arguments(flags UNIX_COMMAND "${output}")
  step("pkg-config: build" "${CXX}" -std=c++20 "${CMAKE_CURRENT_LIST_DIR}/consumer.cpp" ${flags}
       -o "${WORK}/consumer-pkg-config")
  run_consumer("pkg-config" "${WORK}/consumer-pkg-config")
elseif(MODE STREQUAL "subdirectory")
  set(dir "${WORK}/subdirectory")
  step("add_subdirectory: configure" "${CMAKE_COMMAND}" -S "${CMAKE_CURRENT_LIST_DIR}" -B "${dir}" ${consumer_args}
       -DTARVO_CONSUMER_MODE=subdirectory -DTARVO_SOURCE_DIR=${SOURCE} -DBUILD_SHARED_LIBS=ON -DTARVO_BUILD_CLI=ON
       # Unoptimised: this build is about how tarvo joins a project, and
       # compiles in a fraction of the time.
       -DCMAKE_BUILD_TYPE=)
  step("add_subdirectory: build" "${CMAKE_COMMAND}" --build "${dir}")
  run_consumer("add_subdirectory, shared library" "${dir}/consumer")
  file(GLOB library "${dir}/tarvo/src/libtarvo.so.*.*.*")
  if(NOT library OR NOT EXISTS "${dir}/tarvo/src/libtarvo.so.${version}")
    message(FATAL_ERROR "no libtarvo.so.${version} in ${dir}/tarvo/src")
  endif()
  string(REGEX MATCH "^[0-9]+" major "${version}")
  step("readelf" readelf -d "${dir}/tarvo/src/libtarvo.so")
  if(NOT output MATCHES "SONAME[^\n]*libtarvo\\.so\\.${major}\\]")
    message(FATAL_ERROR "libtarvo.so has no soname libtarvo.so.${major}:\n${output}")
  endif()
  # Only the public API is exported: none of the reader's own types.
  step("nm" nm -D -C --defined-only "${dir}/tarvo/src/libtarvo.so")
  if(output MATCHES "Reporter|DocumentParser|StrBuf|content_model|check_attributes")
    message(FATAL_ERROR "libtarvo.so exports internal symbols:\n${output}")
  endif()
  step("the tarvo command on the shared library" "${dir}/tarvo/tarvo" check heatmap "${document}")

  # The same shared build installed and moved: the command finds its
  # library, its grammar files, its manual page and completions from where
  # it lies; a pkg-config program finds the library by the run path it was
  # linked with, or by LD_LIBRARY_PATH.
  step("shared: install" "${CMAKE_COMMAND}" --install "${dir}" --prefix "${WORK}/shared-installed")
  file(RENAME "${WORK}/shared-installed" "${WORK}/shared-moved")
  set(prefix "${WORK}/shared-moved")
  step("shared: tarvo --version" "${prefix}/bin/tarvo" --version)
  if(NOT output MATCHES "^tarvo ${version}\nlibrary ${version}\ngrammars [0-9a-f]+ \\([0-9]+ built in\\)\n$")
    message(FATAL_ERROR "shared: tarvo --version printed '${output}'")
  endif()
  step("shared: tarvo grammars" "${prefix}/bin/tarvo" grammars)
  if(NOT output MATCHES " ${prefix}/share/tarvo/grammars/heatmap\\.grammar ")
    message(FATAL_ERROR "shared: tarvo grammars does not name the installed grammar files:\n${output}")
  endif()
  step("shared: an installed grammar file loads" "${prefix}/bin/tarvo" check
       --grammar-file "${prefix}/share/tarvo/grammars/heatmap.grammar" "${document}")
  foreach(file share/man/man1/tarvo.1 share/bash-completion/completions/tarvo share/zsh/site-functions/_tarvo
               share/fish/vendor_completions.d/tarvo.fish)
    if(NOT EXISTS "${prefix}/${file}")
      message(FATAL_ERROR "shared: ${file} is not installed")
    endif()
  endforeach()
  find_program(MAN man)
  if(MAN)
    step("shared: man finds the page" "${CMAKE_COMMAND}" -E env "MANPATH=${prefix}/share/man" "${MAN}" -w tarvo)
    if(NOT output MATCHES "^${prefix}/share/man/man1/tarvo\\.1")
      message(FATAL_ERROR "shared: man -w tarvo gave '${output}'")
    endif()
  endif()

  find_program(PKG_CONFIG pkg-config REQUIRED)
  file(GLOB_RECURSE pc_file "${prefix}/*/tarvo.pc")
  get_filename_component(pc_dir "${pc_file}" DIRECTORY)
  set(pkg_config "${CMAKE_COMMAND}" -E env "PKG_CONFIG_PATH=${pc_dir}" "${PKG_CONFIG}")
  step("shared: pkg-config" ${pkg_config} --cflags --libs tarvo)
  separate_arguments(flags UNIX_COMMAND "${output}")
  step("shared: pkg-config libdir" ${pkg_config} --variable=libdir tarvo)
  string(STRIP "${output}" libdir)
  step("shared: pkg-config build, run path" "${CXX}" -std=c++20 "${CMAKE_CURRENT_LIST_DIR}/consumer.cpp" ${flags}
       "-Wl,-rpath,${libdir}" -o "${WORK}/consumer-rpath")
  run_consumer("shared, pkg-config with -Wl,-rpath" "${WORK}/consumer-rpath")
  step("shared: pkg-config build" "${CXX}" -std=c++20 "${CMAKE_CURRENT_LIST_DIR}/consumer.cpp" ${flags}
       -o "${WORK}/consumer-plain")
  execute_process(COMMAND "${CMAKE_COMMAND}" -E env --unset=LD_LIBRARY_PATH "${WORK}/consumer-plain" "${document}"
                  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
  if(rc EQUAL 0)
    message(FATAL_ERROR "shared: a program linked without a run path found libtarvo by itself; README's advice is moot")
  endif()
  step("shared: LD_LIBRARY_PATH" "${CMAKE_COMMAND}" -E env "LD_LIBRARY_PATH=${libdir}" "${WORK}/consumer-plain"
       "${document}")
  if(NOT output MATCHES "${expected}")
    message(FATAL_ERROR "shared, pkg-config with LD_LIBRARY_PATH: printed '${output}'")
  endif()
elseif(MODE STREQUAL "python")
  step("install" "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${WORK}/installed")
  set(dir "${WORK}/python")
  step("python: configure" "${CMAKE_COMMAND}" -S "${CMAKE_CURRENT_LIST_DIR}/python" -B "${dir}" ${consumer_args}
       -DCMAKE_PREFIX_PATH=${WORK}/installed -DTARVO_BINDING_DIR=${SOURCE}/src/binding -DPython3_EXECUTABLE=${PYTHON})
  step("python: build" "${CMAKE_COMMAND}" --build "${dir}")
  step("python: import and parse" "${PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/python/check.py" "${dir}" "${document}")
  if(NOT output MATCHES "^tarvo ${version}: valid, 7 elements\n$")
    message(FATAL_ERROR "python: the module printed '${output}'")
  endif()
  message(STATUS "python: ${output}")
else()
  message(FATAL_ERROR "run.cmake: MODE must be package, subdirectory or python")
endif()
