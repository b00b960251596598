# Locates the libraries: the host build uses Debian's packages; the Windows builds use libcrypto and
# GoogleTest built for MinGW by scripts/setup.sh under VELMORA_DEPS, one folder per version and target,
# and cpp-httplib's header fetched there. nlohmann-json is Debian's header-only package for both.

function(velmora_find_dep out pattern)
  file(GLOB candidates LIST_DIRECTORIES true "${VELMORA_DEPS}/${pattern}")
  set(found "")
  foreach(dir IN LISTS candidates)
    if(EXISTS "${dir}/.complete")
      set(found "${dir}")
    endif()
  endforeach()
  if(NOT found)
    message(FATAL_ERROR "No ${pattern} under ${VELMORA_DEPS}: run scripts/setup.sh first")
  endif()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

if(WIN32)
  # Debian's nlohmann-json headers, without the rest of /usr/include: the MinGW builds see only a
  # link to their folder, made in the build tree.
  find_path(VELMORA_NLOHMANN_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_DEFAULT_PATH
            NO_CMAKE_FIND_ROOT_PATH)
  if(NOT VELMORA_NLOHMANN_JSON_INCLUDE)
    message(FATAL_ERROR "No nlohmann/json.hpp (Debian's nlohmann-json3-dev): run scripts/setup.sh first")
  endif()
  set(nlohmann_json_link_dir "${CMAKE_BINARY_DIR}/third-party/include")
  file(MAKE_DIRECTORY "${nlohmann_json_link_dir}")
  file(CREATE_LINK "${VELMORA_NLOHMANN_JSON_INCLUDE}/nlohmann" "${nlohmann_json_link_dir}/nlohmann" SYMBOLIC)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${nlohmann_json_link_dir}")

  velmora_find_dep(VELMORA_HTTPLIB_DIR "cpp-httplib-*")
  add_library(httplib::httplib INTERFACE IMPORTED GLOBAL)
  set_target_properties(httplib::httplib PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${VELMORA_HTTPLIB_DIR}/include"
    INTERFACE_LINK_LIBRARIES "ws2_32")

  velmora_find_dep(VELMORA_OPENSSL_DIR "openssl-*-${CMAKE_SYSTEM_PROCESSOR}")
  add_library(OpenSSL::Crypto STATIC IMPORTED GLOBAL)
  set_target_properties(OpenSSL::Crypto PROPERTIES
    IMPORTED_LOCATION "${VELMORA_OPENSSL_DIR}/lib/libcrypto.a"
    INTERFACE_INCLUDE_DIRECTORIES "${VELMORA_OPENSSL_DIR}/include"
    # crypt32 as the program takes it: delay-imported, from the system folder.
    INTERFACE_LINK_LIBRARIES "ws2_32;velmora_delay_crypt32;advapi32;user32;bcrypt")
  if(BUILD_TESTING AND NOT VELMORA_FUZZ)
    velmora_find_dep(VELMORA_GTEST_DIR "googletest-*-${CMAKE_SYSTEM_PROCESSOR}")
    find_package(GTest CONFIG REQUIRED PATHS "${VELMORA_GTEST_DIR}" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  endif()
else()
  find_package(nlohmann_json 3.11 REQUIRED)
  find_package(OpenSSL REQUIRED COMPONENTS Crypto)
  if(NOT VELMORA_FUZZ)
    find_package(GTest REQUIRED)
  endif()
endif()
