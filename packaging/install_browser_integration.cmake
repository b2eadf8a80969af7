# Installs the security component where the browsers look for every user:
# the host's native messaging manifests (naming the installed program) and
# the extension. Run at install time from an install(CODE) rule that sets
# the names and folders. The folders are the system's, outside the prefix:
# with DESTDIR (a package being made) they go under it; an installation
# that cannot write them leaves them out with a warning.
configure_file("${templates}/chromium.json.in" "${work}/chromium.json" @ONLY)
configure_file("${templates}/firefox.json.in" "${work}/firefox.json" @ONLY)

function(install_system_files folder)
  # file(INSTALL) puts an absolute folder under DESTDIR itself.
  if("$ENV{DESTDIR}" STREQUAL "")
    # Writable when it or its nearest existing parent is.
    set(probe "${folder}")
    while(NOT EXISTS "${probe}")
      get_filename_component(probe "${probe}" DIRECTORY)
    endwhile()
    execute_process(COMMAND test -w "${probe}" RESULT_VARIABLE not_writable)
    if(not_writable)
      message(WARNING "${folder} is not writable: the browsers will not find the QUIL signing component "
                      "(install as root, or from the Debian package)")
      return()
    endif()
  endif()
  file(INSTALL DESTINATION "${folder}" TYPE FILE ${ARGN})
endfunction()

install_system_files("${chromium_hosts}" FILES "${work}/chromium.json" RENAME "${QUIL_SIGNER_HOST_NAME}.json")
install_system_files("${chrome_hosts}" FILES "${work}/chromium.json" RENAME "${QUIL_SIGNER_HOST_NAME}.json")
install_system_files("${mozilla_hosts}" FILES "${work}/firefox.json" RENAME "${QUIL_SIGNER_HOST_NAME}.json")
install_system_files("${mozilla_extensions}" FILES "${QUIL_EXTENSION_XPI}" RENAME "${QUIL_EXTENSION_GECKO_ID}.xpi")
file(GLOB extension_files "${QUIL_EXTENSION_DIR}/*")
install_system_files("${chromium_extensions}/quil-signer" FILES ${extension_files})
