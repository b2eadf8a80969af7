# The RSA keys the tests' demo proxies and fake proxies use, made once per
# build folder into ${QUIL_TEST_KEYS} (a 2048-bit key takes a good part of
# a second; every proxy a test starts would otherwise make its own):
# envelope.key, root.key, issuing.key and tls.key form a demo proxy's key set
# (quil-devproxy --key-set), fake-proxy.key and stranger.key are the fake
# proxy's key and the key of a stranger whose replies it must refuse.
find_program(QUIL_OPENSSL_PROGRAM openssl REQUIRED)
set(QUIL_TEST_KEYS "${PROJECT_BINARY_DIR}/test-keys")
set(test_key_files)
foreach(name envelope root issuing tls fake-proxy stranger)
  set(key "${QUIL_TEST_KEYS}/${name}.key")
  add_custom_command(OUTPUT "${key}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${QUIL_TEST_KEYS}"
    COMMAND "${QUIL_OPENSSL_PROGRAM}" genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "${key}.new"
    COMMAND "${CMAKE_COMMAND}" -E rename "${key}.new" "${key}"
    COMMENT "Making the test key ${name}.key" VERBATIM)
  list(APPEND test_key_files "${key}")
endforeach()
add_custom_target(quil_test_keys ALL DEPENDS ${test_key_files})
