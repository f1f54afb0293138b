# The Windows build's tests, included from tests/CMakeLists.txt:
#   windows_image              the facts of certinstall.exe, read with pefile
#   unit_tests                 the program's logic over the scripted fake
#   platform_tests             the loader and the installer over kernel32 and
#                              crypt32, with the certificates linked in
#   windows_binary_end_to_end  certinstall.exe itself
# The last three run under Wine, each in a fresh copy of one prefix that the
# test wine_prefix_template makes once per run; one test per executable, as
# every Wine start costs seconds.

# The loader finds the certificates in the test executable's own resources.
add_executable(platform_tests platform/installer_platform_test.cpp)
target_link_libraries(platform_tests PRIVATE certinstall_core certinstall_resources crypt32 GTest::gtest_main)
certinstall_compile_options(platform_tests)
certinstall_link_runtime_statically(platform_tests)

# The fake defines the operations that <windows.h> declares dllimport.
if(NOT MSVC)
  target_compile_options(certinstall_platform_for_testing PRIVATE -Wno-attributes)
endif()

if(NOT MSVC)
  add_test(NAME windows_image
           COMMAND "${CERTINSTALL_PYTHON}" "${CMAKE_CURRENT_SOURCE_DIR}/windows/test_image.py"
                   "$<TARGET_FILE:certinstall>" "${CERTINSTALL_MANIFEST}" "${CERTIFICATE_DIR}")
endif()

if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  if(NOT CMAKE_CROSSCOMPILING)
    # On Windows itself only the unit tests run: the others would change the
    # stores of the user who runs them.
    target_compile_definitions(platform_tests PRIVATE CERTINSTALL_TEST_CERTIFICATE_DIR="${CERTIFICATE_DIR}")
    add_test(NAME unit_tests COMMAND unit_tests)
  endif()
  return()
endif()

# Wine sees the Linux file system as drive Z:.
target_compile_definitions(platform_tests PRIVATE CERTINSTALL_TEST_CERTIFICATE_DIR="Z:${CERTIFICATE_DIR}")

set(prefixes "${CMAKE_CURRENT_BINARY_DIR}/wine")
set(template "${prefixes}/template")
set(wine_prefix "${CERTINSTALL_PYTHON}" "${PROJECT_SOURCE_DIR}/tools/wine_prefix.py"
                --wine "${CMAKE_CROSSCOMPILING_EMULATOR}")

add_test(NAME wine_prefix_template COMMAND ${wine_prefix} create "${template}")
set_tests_properties(wine_prefix_template PROPERTIES FIXTURES_SETUP wine_prefix)

foreach(executable IN ITEMS unit_tests platform_tests)
  add_test(NAME ${executable}
           COMMAND ${wine_prefix} run --from "${template}" "${prefixes}/${executable}" "$<TARGET_FILE:${executable}>")
endforeach()

add_test(NAME windows_binary_end_to_end
         COMMAND "${CERTINSTALL_PYTHON}" "${CMAKE_CURRENT_SOURCE_DIR}/windows/test_windows_binary.py"
                 "$<TARGET_FILE:certinstall>" "${CERTIFICATE_DIR}" "${template}" "${prefixes}/end-to-end"
                 "${CMAKE_CROSSCOMPILING_EMULATOR}")

set_tests_properties(unit_tests platform_tests windows_binary_end_to_end PROPERTIES FIXTURES_REQUIRED wine_prefix)

# The unit tests load the C++ runtime from the toolchain's DLLs. The fake
# takes over the program's imports of kernel32 and crypt32, and all code
# linked into one executable shares them: a runtime linked in would log its
# own GetLastError calls (made in every throw and stream write) as the
# program's.
if(MINGW)
  set(runtime_directories)
  foreach(dll IN ITEMS libstdc++-6.dll libwinpthread-1.dll)
    execute_process(COMMAND "${CMAKE_CXX_COMPILER}" -print-file-name=${dll}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(directory "${path}" DIRECTORY)
    get_filename_component(directory "${directory}" REALPATH)
    list(APPEND runtime_directories "Z:${directory}")
  endforeach()
  list(JOIN runtime_directories "\\;" wine_path)
  set_tests_properties(unit_tests PROPERTIES ENVIRONMENT "WINEPATH=${wine_path}")
endif()

# certinstall.exe on the real certificate API, seen through list_stores.exe.
add_subdirectory(wine wine-api)
