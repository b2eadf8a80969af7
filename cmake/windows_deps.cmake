# The libraries of the Windows build, from the prefix that
# scripts/windows/build-deps.sh fills (QUIL_WINDOWS_DEPS), under the target
# names the Linux build gets from its packages.
set(QUIL_WINDOWS_DEPS "$ENV{QUIL_WINDOWS_DEPS}" CACHE PATH "prefix of the cross-built libraries")
if(NOT QUIL_WINDOWS_DEPS OR NOT EXISTS "${QUIL_WINDOWS_DEPS}/include/tinyxml2.h")
  message(FATAL_ERROR "QUIL_WINDOWS_DEPS must name the prefix scripts/windows/build-deps.sh filled")
endif()
list(APPEND CMAKE_FIND_ROOT_PATH "${QUIL_WINDOWS_DEPS}")
list(APPEND CMAKE_PREFIX_PATH "${QUIL_WINDOWS_DEPS}")

# Windows 10 interfaces; no min/max macros; wide calls are named explicitly.
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 NOMINMAX WIN32_LEAN_AND_MEAN)

set(OPENSSL_ROOT_DIR "${QUIL_WINDOWS_DEPS}")
set(OPENSSL_USE_STATIC_LIBS ON)
find_package(OpenSSL 3 REQUIRED)
set_property(TARGET OpenSSL::Crypto APPEND PROPERTY INTERFACE_LINK_LIBRARIES ws2_32 crypt32 user32 advapi32)
find_package(CURL REQUIRED CONFIG)
find_package(Threads REQUIRED)

function(quil_imported_library target lib)
  add_library(${target} STATIC IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES IMPORTED_LOCATION "${QUIL_WINDOWS_DEPS}/lib/${lib}"
    INTERFACE_INCLUDE_DIRECTORIES "${QUIL_WINDOWS_DEPS}/include")
endfunction()
function(quil_header_library target)
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${QUIL_WINDOWS_DEPS}/include")
endfunction()

quil_imported_library(tinyxml2::tinyxml2 libtinyxml2.a)
quil_imported_library(PkgConfig::RE2 libre2.a)
set_property(TARGET PkgConfig::RE2 PROPERTY INTERFACE_LINK_LIBRARIES Threads::Threads)
quil_header_library(nlohmann_json::nlohmann_json)
quil_header_library(PkgConfig::HTTPLIB)
quil_check_httplib_version("${QUIL_WINDOWS_DEPS}/include/httplib.h")
set_property(TARGET PkgConfig::HTTPLIB PROPERTY INTERFACE_LINK_LIBRARIES ws2_32)
quil_imported_library(GTest::gtest libgtest.a)
set_property(TARGET GTest::gtest PROPERTY INTERFACE_LINK_LIBRARIES Threads::Threads)
quil_imported_library(GTest::gtest_main libgtest_main.a)
set_property(TARGET GTest::gtest_main PROPERTY INTERFACE_LINK_LIBRARIES GTest::gtest)
