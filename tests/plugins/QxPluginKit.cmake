# Test plug-ins: a ".qxp" shared object built as C from a kit source.
#
#   qx_add_test_plugin(<target> SOURCE <file.c>... [FILE <name>] [OUTPUT_DIR <dir>]
#                      [DEFINES <KIT_...=...> ...])
#
# The file is <FILE or target>.qxp in OUTPUT_DIR (default: this binary
# folder's "kit" directory). The plug-in includes the player's interface
# header only and links nothing: it reaches the player through the host
# table. Under QX_SANITIZE it is instrumented like the player, which then
# provides the sanitizer runtime when it loads the plug-in.
function(qx_add_test_plugin target)
  cmake_parse_arguments(KIT "" "FILE;OUTPUT_DIR" "SOURCE;DEFINES" ${ARGN})
  if(NOT KIT_FILE)
    set(KIT_FILE ${target})
  endif()
  if(NOT KIT_OUTPUT_DIR)
    set(KIT_OUTPUT_DIR ${CMAKE_CURRENT_BINARY_DIR}/kit)
  endif()
  add_library(${target} MODULE ${KIT_SOURCE})
  set_target_properties(${target} PROPERTIES
    PREFIX "" SUFFIX ".qxp" OUTPUT_NAME ${KIT_FILE}
    LIBRARY_OUTPUT_DIRECTORY ${KIT_OUTPUT_DIR}
    C_VISIBILITY_PRESET default LINKER_LANGUAGE C)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_compile_definitions(${target} PRIVATE ${KIT_DEFINES})
  # Sanitizer symbols resolve against the player at load time.
  if(QX_SANITIZE)
    target_link_options(${target} PRIVATE -Wl,--allow-shlib-undefined)
  endif()
endfunction()
