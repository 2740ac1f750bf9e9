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

# kx_add_test(<folder> <name> SOURCES ... DEPS ... [GL] [TIMEOUT s]): a GoogleTest executable
# registered with CTest as "<folder>/<name>". Widget tests run on the offscreen platform; GL tests
# need an X server (the test command runs ctest under xvfb-run).
function(kx_add_test folder name)
  cmake_parse_arguments(ARG "GL" "TIMEOUT" "SOURCES;DEPS" ${ARGN})
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
  set_tests_properties(${folder}/${name} PROPERTIES
    TIMEOUT ${ARG_TIMEOUT}
    LABELS ${folder}
    ENVIRONMENT "QT_QPA_PLATFORM=${platform};KX_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()

# kx_add_bench(<name> SOURCES ... DEPS ...): a benchmark program, built with the project and run by hand.
function(kx_add_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(bench_${name} ${ARG_SOURCES})
  target_link_libraries(bench_${name} PRIVATE ${ARG_DEPS})
  target_include_directories(bench_${name} PRIVATE ${PROJECT_SOURCE_DIR})
  kx_set_unit_names(${ARG_SOURCES})
endfunction()
