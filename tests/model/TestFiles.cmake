# Writers of test files, shared by the tests, the fuzz seed generator and the benchmarks (which may be
# built without the tests).
if(NOT TARGET kx_model_testfiles)
  set(dir ${PROJECT_SOURCE_DIR}/tests/model)
  add_library(kx_model_testfiles STATIC ${dir}/KsmSamples.cpp ${dir}/PlySamples.cpp)
  target_link_libraries(kx_model_testfiles PUBLIC kx_model)
  kx_set_unit_names(${dir}/KsmSamples.cpp ${dir}/PlySamples.cpp)
endif()
