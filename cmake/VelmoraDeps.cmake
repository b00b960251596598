# Locates the libraries: the host build uses Debian's packages; the Windows builds use libcrypto and
# GoogleTest built for MinGW by scripts/setup.sh under VELMORA_DEPS, one folder per version and target.

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
  find_package(OpenSSL REQUIRED COMPONENTS Crypto)
  if(NOT VELMORA_FUZZ)
    find_package(GTest REQUIRED)
  endif()
endif()
