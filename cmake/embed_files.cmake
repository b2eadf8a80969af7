# Compiles every file under a folder into a generated C++ source, so the
# program never reads its pages from the source tree at run time.
function(quil_embed_folder target folder)
  file(GLOB_RECURSE files CONFIGURE_DEPENDS "${folder}/*")
  set(out "${CMAKE_CURRENT_BINARY_DIR}/${target}_embedded.cc")
  add_custom_command(
    OUTPUT "${out}"
    COMMAND ${CMAKE_COMMAND} -DFOLDER=${folder} -DOUT=${out}
            -P "${PROJECT_SOURCE_DIR}/cmake/embed_run.cmake"
    DEPENDS ${files} "${PROJECT_SOURCE_DIR}/cmake/embed_run.cmake"
    COMMENT "Embedding ${folder}")
  add_library(${target} STATIC "${out}")
  target_include_directories(${target} PUBLIC "${PROJECT_SOURCE_DIR}/src")
endfunction()

# Compiles the program built by `program_target` into a static library
# defining std::string_view quil::<function>() with its bytes.
function(quil_embed_program target program_target function)
  set(out "${CMAKE_CURRENT_BINARY_DIR}/${target}_embedded.cc")
  add_custom_command(
    OUTPUT "${out}"
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${program_target}> -DOUT=${out} -DFUNCTION=${function}
            -P "${PROJECT_SOURCE_DIR}/cmake/embed_program.cmake"
    DEPENDS ${program_target} "${PROJECT_SOURCE_DIR}/cmake/embed_program.cmake"
    COMMENT "Embedding ${program_target}")
  add_library(${target} STATIC "${out}")
endfunction()
