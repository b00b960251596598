# The public CA certificates the program carries. Their files are not part of the source tree: they
# come from VELMORA_CERT_DIR, whose certs.tsv lists one row per certificate (set, check and repair
# order, store, name, resource, format, DER size, SHA-1 of the DER encoding, file). Every file is
# checked against its row before anything embeds it: a file whose DER encoding differs from its row
# stops the configuration; a row without a file is left out of the build and named here, and its
# installation then fails as a damaged resource would.
#
# Results:
#   VELMORA_CERT_DIR_RESOLVED  the directory, absolute
#   VELMORA_CERT_RC            resource script with one "CERT" resource per SM2 row that has a file
#   VELMORA_CERT_SOURCES       C++ source with the DER bytes of the older certificates
#   VELMORA_CERT_FILES         every embedded file, for dependencies
#   VELMORA_CERT_MISSING       names of the rows built without a file

set(VELMORA_CERT_DIR "${PROJECT_SOURCE_DIR}/../shared/certs"
    CACHE PATH "Directory of the carried CA certificates: certs.tsv and the files it lists")
get_filename_component(VELMORA_CERT_DIR_RESOLVED "${VELMORA_CERT_DIR}" ABSOLUTE)

set(_cert_table "${VELMORA_CERT_DIR_RESOLVED}/certs.tsv")
if(NOT EXISTS "${_cert_table}")
  message(FATAL_ERROR "No certs.tsv in VELMORA_CERT_DIR (${VELMORA_CERT_DIR_RESOLVED})")
endif()
find_program(VELMORA_BASE64 base64 REQUIRED)

set(_cert_out "${PROJECT_BINARY_DIR}/certificates")
file(MAKE_DIRECTORY "${_cert_out}/der")
set(VELMORA_CERT_RC "${_cert_out}/certificate_resources.rc")
set(VELMORA_CERT_SOURCES "${_cert_out}/legacy_certificate_data.cpp")
set(VELMORA_CERT_FILES "")
set(VELMORA_CERT_MISSING "")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_cert_table}")

# The DER encoding of a certificate file into <out_file>: DER files as they are, PEM files without
# their armour lines and line ends, base64-decoded.
function(_velmora_cert_der file format out_file)
  if(format STREQUAL "DER")
    configure_file("${file}" "${out_file}" COPYONLY)
    return()
  endif()
  file(READ "${file}" text)
  string(REGEX REPLACE "-----(BEGIN|END) CERTIFICATE-----" "" text "${text}")
  string(REGEX REPLACE "[\r\n]" "" text "${text}")
  file(WRITE "${out_file}.b64" "${text}")
  execute_process(COMMAND "${VELMORA_BASE64}" -d INPUT_FILE "${out_file}.b64" OUTPUT_FILE "${out_file}"
                  RESULT_VARIABLE status ERROR_QUIET)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "Certificate file ${file} is not PEM text")
  endif()
endfunction()

file(STRINGS "${_cert_table}" _cert_lines)
set(_cert_rc_lines "")
set(_cert_arrays "")
set(_cert_cases "")
set(_cert_index 0)
foreach(line IN LISTS _cert_lines)
  string(REPLACE "\t" ";" fields "${line}")
  list(LENGTH fields count)
  list(GET fields 0 set)
  if(set STREQUAL "set" OR count EQUAL 0)
    continue()
  endif()
  if(NOT count EQUAL 10)
    message(FATAL_ERROR "certs.tsv: a row needs 10 fields: ${line}")
  endif()
  list(GET fields 4 name)
  list(GET fields 5 resource)
  list(GET fields 6 format)
  list(GET fields 7 size)
  list(GET fields 8 sha1)
  list(GET fields 9 relative)
  set(row "${set} certificate \"${name}\"")

  set(file "${VELMORA_CERT_DIR_RESOLVED}/${relative}")
  if(relative STREQUAL "-" OR NOT EXISTS "${file}")
    message(WARNING "The ${row} has no file in ${VELMORA_CERT_DIR_RESOLVED}: "
                    "the program is built without it and cannot install it")
    list(APPEND VELMORA_CERT_MISSING "${name}")
    continue()
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${file}")

  set(der "${_cert_out}/der/${set}_${_cert_index}.der")
  math(EXPR _cert_index "${_cert_index} + 1")
  _velmora_cert_der("${file}" "${format}" "${der}")
  file(SIZE "${der}" got_size)
  file(SHA1 "${der}" got_sha1)
  string(TOUPPER "${got_sha1}" got_sha1)
  string(TOUPPER "${sha1}" sha1)
  if(NOT got_size EQUAL size OR NOT got_sha1 STREQUAL sha1)
    message(FATAL_ERROR "The ${row} in ${file} is not the pinned one: DER of ${got_size} bytes with "
                        "SHA-1 ${got_sha1}, expected ${size} bytes with SHA-1 ${sha1}")
  endif()
  list(APPEND VELMORA_CERT_FILES "${file}")

  if(set STREQUAL "sm2")
    string(APPEND _cert_rc_lines "${resource} CERT \"${file}\"\n")
  elseif(set STREQUAL "legacy")
    file(READ "${der}" hex HEX)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," hex "${hex}")
    set(array "kDer${_cert_index}")
    string(APPEND _cert_arrays "constexpr unsigned char ${array}[] = {${hex}};\n")
    string(APPEND _cert_cases "    if (name == \"${name}\")\n"
                              "        return {reinterpret_cast<const char*>(${array}), sizeof ${array}};\n")
  else()
    message(FATAL_ERROR "certs.tsv: unknown set \"${set}\" in: ${line}")
  endif()
endforeach()

file(CONFIGURE OUTPUT "${VELMORA_CERT_RC}" CONTENT
     "// Generated at configure time from @_cert_table@.\n@_cert_rc_lines@" @ONLY)
file(CONFIGURE OUTPUT "${VELMORA_CERT_SOURCES}" CONTENT
     "// Generated at configure time from @_cert_table@.
#include \"checks/certificate_table.h\"

namespace Velmora::Assistant {
namespace {
@_cert_arrays@
} // namespace

std::string_view LegacyCertificateDer([[maybe_unused]] std::string_view name)
{
@_cert_cases@    return {};
}

} // namespace Velmora::Assistant
" @ONLY)
