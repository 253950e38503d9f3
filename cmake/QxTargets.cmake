# One static library per source folder; its sources are the folder's *.cpp.
set(QX_ALL_LIBRARIES "" CACHE INTERNAL "")

function(qx_add_library name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  if(NOT sources)
    set(sources ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARGN})
  set(QX_ALL_LIBRARIES ${QX_ALL_LIBRARIES} ${name} CACHE INTERNAL "")
endfunction()

# One GoogleTest binary per tests folder from its *_test.cpp files.
function(qx_add_gtest name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE qx_all GTest::gtest GTest::gtest_main ${ARGN})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QX_BUILD_DIR=${PROJECT_BINARY_DIR};QX_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()
