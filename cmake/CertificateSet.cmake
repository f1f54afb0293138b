# The embedded certificate set, made from the one declaration in
# resources/certificate_set.txt and the files in CERTIFICATE_DIR.
#
# certinstall_read_certificate_set() reads the declaration, checks the set
# (unless CERTIFICATE_CHECK is OFF) and sets, in the caller's scope:
#   CERTINSTALL_CERTIFICATE_TYPES, _IDS, _FILES  parallel lists, one entry per
#                                                certificate that is present
# Then certinstall_write_host_table(<out.cpp>) writes the host build's table
# and certinstall_write_resource_script(<out.rc> <manifest>) the Windows one.

set(CERTINSTALL_CERTIFICATE_SET "${PROJECT_SOURCE_DIR}/resources/certificate_set.txt")

function(certinstall_read_certificate_set)
  file(STRINGS "${CERTINSTALL_CERTIFICATE_SET}" lines)
  set(types)
  set(ids)
  set(files)
  set(configure_depends "${CERTINSTALL_CERTIFICATE_SET}")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*(#|$)")
      continue()
    endif()
    if(NOT line MATCHES "^[ \t]*([A-Z]+)[ \t]+([0-9]+)[ \t]+(root|intermediate)[ \t]+([^ \t]+)[ \t]*$")
      message(FATAL_ERROR "${CERTINSTALL_CERTIFICATE_SET}: cannot read the line \"${line}\"")
    endif()
    set(file "${CERTIFICATE_DIR}/${CMAKE_MATCH_4}")
    if(EXISTS "${file}")
      list(APPEND types "${CMAKE_MATCH_1}")
      list(APPEND ids "${CMAKE_MATCH_2}")
      list(APPEND files "${file}")
      list(APPEND configure_depends "${file}")
    elseif(NOT CERTIFICATE_CHECK)
      message(WARNING "CERTIFICATE_CHECK is OFF; missing, so left out of the executable:\n  ${file}")
    endif()
  endforeach()

  if(CERTIFICATE_CHECK)
    execute_process(
      COMMAND "${CERTINSTALL_PYTHON}" "${PROJECT_SOURCE_DIR}/tools/check_certificate_set.py"
              --set "${CERTINSTALL_CERTIFICATE_SET}" --dir "${CERTIFICATE_DIR}"
      RESULT_VARIABLE status
      ERROR_VARIABLE problems
      OUTPUT_VARIABLE output)
    if(NOT status EQUAL 0)
      # Indented lines are printed as they are, not re-wrapped.
      string(STRIP "${problems}${output}" problems)
      string(REPLACE "\n" "\n  " problems "  ${problems}\n")
      message(FATAL_ERROR
        "The certificate set in ${CERTIFICATE_DIR} breaks a rule that the program relies on:\n"
        "${problems}"
        "Fix the files, or configure with -DCERTIFICATE_CHECK=OFF to embed them as they are.")
    endif()
  endif()

  # Editing the declaration or a certificate reconfigures, and so re-checks.
  set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${configure_depends})
  set(CERTINSTALL_CERTIFICATE_TYPES "${types}" PARENT_SCOPE)
  set(CERTINSTALL_CERTIFICATE_IDS "${ids}" PARENT_SCOPE)
  set(CERTINSTALL_CERTIFICATE_FILES "${files}" PARENT_SCOPE)
endfunction()

# Writes `content` to `path` only when it differs, so that an unchanged set
# rebuilds nothing.
function(certinstall_write_if_changed path content)
  if(EXISTS "${path}")
    file(READ "${path}" old)
    if(old STREQUAL content)
      return()
    endif()
  endif()
  file(WRITE "${path}" "${content}")
endfunction()

function(certinstall_write_host_table path)
  set(arrays "")
  set(entries "")
  set(index 0)
  foreach(type id file IN ZIP_LISTS CERTINSTALL_CERTIFICATE_TYPES CERTINSTALL_CERTIFICATE_IDS CERTINSTALL_CERTIFICATE_FILES)
    file(READ "${file}" hex HEX)
    string(LENGTH "${hex}" digits)
    math(EXPR size "${digits} / 2")
    if(size EQUAL 0)
      set(bytes "0")  # an empty resource still has an address
    else()
      string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
      string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
    endif()
    string(APPEND arrays "// ${file}\nconst BYTE resource${index}[] = {\n    ${bytes}};\n\n")
    string(APPEND entries "    {u\"${type}\", ${id}, resource${index}, ${size}},\n")
    math(EXPR index "${index} + 1")
  endforeach()
  certinstall_write_if_changed("${path}"
"// Made by cmake/CertificateSet.cmake from resources/certificate_set.txt; do not edit.
#include \"platform/host/embedded_resources.h\"

namespace {

${arrays}}  // namespace

const EmbeddedResource embeddedResources[] = {
${entries}    {NULL, 0, NULL, 0},
};
")
endfunction()

function(certinstall_write_resource_script path manifest)
  set(lines "")
  foreach(type id file IN ZIP_LISTS CERTINSTALL_CERTIFICATE_TYPES CERTINSTALL_CERTIFICATE_IDS CERTINSTALL_CERTIFICATE_FILES)
    string(APPEND lines "${id} ${type} \"${file}\"\n")
  endforeach()
  certinstall_write_if_changed("${path}"
"// Made by cmake/CertificateSet.cmake from resources/certificate_set.txt; do not edit.

// The certificates: named types, integer IDs, Polish (Poland), 1045.
LANGUAGE 0x15, 0x01
${lines}
// The application manifest: type 24, ID 1, English (United States), 1033.
LANGUAGE 0x09, 0x01
1 24 \"${manifest}\"
")
endfunction()
