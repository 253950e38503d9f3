# End-to-end tests: every *.qxs listing below a folder is one CTest test that
# tools/e2e/run_e2e.py assembles with qxasm and runs against the player.
#
#   qx_add_e2e_tests(<dir> [PLAYER <path-or-genex>] [PREFIX <name>] [DEPTH <8|16|24>]
#                    [LISTINGS <file below dir>...])
#
# Tests are named e2e.<path below dir without .qxs, "/" as ".">; PREFIX
# replaces "e2e". PLAYER defaults to the zephyrane target's binary. DEPTH
# runs listings that name an X server on one of that depth instead.
# LISTINGS takes only those listings instead of every one below dir.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

function(qx_add_e2e_tests dir)
  cmake_parse_arguments(E2E "" "PLAYER;PREFIX;DEPTH" "LISTINGS" ${ARGN})
  if(NOT IS_ABSOLUTE "${dir}")
    set(dir "${CMAKE_CURRENT_SOURCE_DIR}/${dir}")
  endif()
  if(NOT E2E_PREFIX)
    set(E2E_PREFIX e2e)
  endif()
  if(NOT E2E_PLAYER)
    if(NOT TARGET zephyrane)
      message(WARNING "qx_add_e2e_tests: no zephyrane target; tests in ${dir} not added")
      return()
    endif()
    set(E2E_PLAYER "$<TARGET_FILE:zephyrane>")
  endif()
  set(depth_args)
  if(E2E_DEPTH)
    set(depth_args --depth ${E2E_DEPTH})
  endif()
  if(E2E_LISTINGS)
    list(TRANSFORM E2E_LISTINGS PREPEND "${dir}/" OUTPUT_VARIABLE listings)
  else()
    file(GLOB_RECURSE listings CONFIGURE_DEPENDS "${dir}/*.qxs")
  endif()
  foreach(listing IN LISTS listings)
    file(RELATIVE_PATH rel "${dir}" "${listing}")
    string(REGEX REPLACE "\\.qxs$" "" rel "${rel}")
    string(REPLACE "/" "." rel "${rel}")
    set(name "${E2E_PREFIX}.${rel}")
    add_test(NAME ${name}
      COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/e2e/run_e2e.py
              --qxasm $<TARGET_FILE:qxasm>
              --player ${E2E_PLAYER}
              ${depth_args}
              --workdir ${CMAKE_CURRENT_BINARY_DIR}/e2e-work/${name}
              ${listing})
    set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77 LABELS e2e)
  endforeach()
endfunction()
