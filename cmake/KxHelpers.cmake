# Each source file knows its own unit name (its file name without extension); assertion
# messages print it.
function(kx_set_unit_names)
  foreach(src ${ARGN})
    get_filename_component(stem ${src} NAME_WE)
    set_property(SOURCE ${src} APPEND PROPERTY COMPILE_DEFINITIONS "KX_UNIT=\"${stem}\"")
  endforeach()
endfunction()

# kx_add_library(<name> SOURCES ... DEPS ...): one static library per folder.
function(kx_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  kx_set_unit_names(${ARG_SOURCES})
endfunction()

# kx_add_test(<folder> <name> SOURCES ... DEPS ... [GL] [TSAN] [TIMEOUT s]): a GoogleTest executable
# registered with CTest as "<folder>/<name>". Widget tests run on the offscreen platform; GL tests
# need an X server (the test command runs ctest under xvfb-run). TSAN marks the tests of concurrent
# code: a KX_TSAN build holds only those (target kx_tsan_tests).
function(kx_add_test folder name)
  cmake_parse_arguments(ARG "GL;TSAN" "TIMEOUT" "SOURCES;DEPS" ${ARGN})
  if(KX_TSAN AND NOT ARG_TSAN)
    return()
  endif()
  set(target test_${folder}_${name})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE kx_test_support ${ARG_DEPS})
  kx_set_unit_names(${ARG_SOURCES})
  add_test(NAME ${folder}/${name} COMMAND ${target})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  if(ARG_GL)
    set(platform xcb)
  else()
    set(platform offscreen)
  endif()
  set(env "QT_QPA_PLATFORM=${platform}")
  # Sanitizer settings travel with the test, so a plain `ctest` in a sanitizer build uses them.
  # Slow unwinding gives the full allocation stacks that the suppressions of system libraries match.
  if(KX_SANITIZE AND ARG_GL)
    # Slow unwinding deadlocks inside Mesa's shader compiler (its JIT registers unwind tables under the
    # unwinder's own lock), and fast unwinding cannot name Mesa's leaks for the suppressions: GL tests
    # check memory errors and undefined behaviour, and leave leak checking to the tests without GL.
    list(APPEND env
      "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:fast_unwind_on_malloc=1"
      "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
  elseif(KX_SANITIZE)
    list(APPEND env
      "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:fast_unwind_on_malloc=0"
      "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0"
      "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
  endif()
  if(KX_TSAN)
    list(APPEND env
      "TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp")
    add_dependencies(kx_tsan_tests ${target})
  endif()
  set_tests_properties(${folder}/${name} PROPERTIES
    TIMEOUT ${ARG_TIMEOUT}
    LABELS ${folder}
    ENVIRONMENT "${env}")
endfunction()

# kx_add_bench(<name> SOURCES ... DEPS ...): a benchmark program, built with the project and run by hand.
function(kx_add_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(bench_${name} ${ARG_SOURCES})
  target_link_libraries(bench_${name} PRIVATE ${ARG_DEPS})
  target_include_directories(bench_${name} PRIVATE ${PROJECT_SOURCE_DIR})
  kx_set_unit_names(${ARG_SOURCES})
endfunction()

# kx_embed_files(<target> BASE <dir> FILES ... DIRECTORIES ...): compiles the files into <target> as a
# table addressed by their paths relative to BASE (see vexkit/Resources.h). The table is generated at
# build time and follows every change of content; callers glob with CONFIGURE_DEPENDS to follow new files.
function(kx_embed_files target)
  cmake_parse_arguments(ARG "" "BASE" "FILES;DIRECTORIES" ${ARGN})
  set(items "")
  foreach(dir ${ARG_DIRECTORIES})
    list(APPEND items "${dir}|dir ${dir}")
  endforeach()
  foreach(file ${ARG_FILES})
    file(RELATIVE_PATH rel ${ARG_BASE} ${file})
    # The path becomes a C string literal and a manifest word.
    if(NOT rel MATCHES "^[A-Za-z0-9_./-]+$")
      message(FATAL_ERROR "embedded file path must be plain [A-Za-z0-9_./-]: ${rel}")
    endif()
    list(APPEND items "${rel}|file ${rel} ${file}")
  endforeach()
  # Sorted so that the generated table does not depend on the order of globbing.
  list(SORT items)
  set(manifest "")
  foreach(item ${items})
    string(REGEX REPLACE "^[^|]*\\|" "" line "${item}")
    string(APPEND manifest "${line}\n")
  endforeach()
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_embedded)
  file(CONFIGURE OUTPUT ${dir}/manifest.txt CONTENT "${manifest}")
  add_custom_command(
    OUTPUT ${dir}/EmbeddedFiles.cpp
    COMMAND ${CMAKE_COMMAND} -DMANIFEST=${dir}/manifest.txt -DOUTPUT=${dir}/EmbeddedFiles.cpp
            -P ${PROJECT_SOURCE_DIR}/cmake/KxEmbed.cmake
    DEPENDS ${dir}/manifest.txt ${ARG_FILES} ${PROJECT_SOURCE_DIR}/cmake/KxEmbed.cmake
    COMMENT "Embedding ${target} files"
    VERBATIM)
  target_sources(${target} PRIVATE ${dir}/EmbeddedFiles.cpp)
  kx_set_unit_names(${dir}/EmbeddedFiles.cpp)
endfunction()
