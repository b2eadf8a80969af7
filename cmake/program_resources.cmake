# quil.exe's icon and version resource. The icon is made from the same PNGs
# as the Linux icons (packaging/icons/png) with icotool (Debian: icoutils);
# the 256-pixel image stays PNG inside the .ico, as Windows keeps it.
find_program(QUIL_ICOTOOL icotool REQUIRED)
set(QUIL_ICON_SIZES 16 24 32 48 64 128)
set(QUIL_ICON "${PROJECT_BINARY_DIR}/generated/quil.ico")
set(icon_pngs)
foreach(size IN LISTS QUIL_ICON_SIZES)
  list(APPEND icon_pngs "${PROJECT_SOURCE_DIR}/packaging/icons/png/${size}x${size}.png")
endforeach()
set(icon_large "${PROJECT_SOURCE_DIR}/packaging/icons/png/256x256.png")
add_custom_command(
  OUTPUT "${QUIL_ICON}"
  COMMAND "${QUIL_ICOTOOL}" -c -o "${QUIL_ICON}.tmp" ${icon_pngs} -r "${icon_large}"
  COMMAND ${CMAKE_COMMAND} -E rename "${QUIL_ICON}.tmp" "${QUIL_ICON}"
  DEPENDS ${icon_pngs} "${icon_large}"
  COMMENT "Making quil.ico" VERBATIM)
add_custom_target(quil_icon DEPENDS "${QUIL_ICON}")

# Makes `target` quil.exe as Windows starts it: a GUI program (no console
# window from the Start menu; platform::UseParentConsole finds a prompt's)
# with the program's resources, `version` ("1.9") as its file and product
# version (the fixed part reads 1.9.0.0).
function(quil_program_resources target version)
  set_target_properties(${target} PROPERTIES WIN32_EXECUTABLE ON)
  string(REPLACE "." ";" parts "${version}")
  list(LENGTH parts n)
  while(n LESS 4)
    list(APPEND parts 0)
    math(EXPR n "${n} + 1")
  endwhile()
  list(JOIN parts "," QUIL_RC_VERSION_COMMAS)
  set(QUIL_RC_VERSION "${version}")
  set(QUIL_RC_ICON "${QUIL_ICON}")
  set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.rc")
  configure_file("${PROJECT_SOURCE_DIR}/src/app/host/windows/program.rc.in" "${rc}" @ONLY)
  set_source_files_properties("${rc}" PROPERTIES OBJECT_DEPENDS "${QUIL_ICON}")
  target_sources(${target} PRIVATE "${rc}")
  add_dependencies(${target} quil_icon)
endfunction()
