# The Windows executable: the program's code over kernel32 and crypt32, with
# the certificates and the manifest linked in as resources. Built with
# mingw-w64 (cmake/i686-w64-mingw32.cmake) or with MSVC; both give the same
# kind of image: a 32-bit console program for Windows 6.0 and later, with
# ASLR, DEP and terminal-server awareness, no time stamp, the C++ runtime
# linked in, and no resource but the certificates and our manifest.

enable_language(RC)

# The C++ runtime linked into the executable, so that it runs without the
# toolchain's DLLs beside it. With MSVC every target of the build uses the
# static runtime, as objects built for different runtimes do not link.
if(MSVC)
  set(CMAKE_MSVC_RUNTIME_LIBRARY MultiThreaded)
  # Made before this file was read, so it did not see the line above.
  set_property(TARGET certinstall_core PROPERTY MSVC_RUNTIME_LIBRARY MultiThreaded)
endif()
function(certinstall_link_runtime_statically target)
  if(NOT MSVC)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  endif()
endfunction()

set(CERTINSTALL_MANIFEST "${PROJECT_SOURCE_DIR}/resources/certinstall.manifest")
set(CERTINSTALL_RESOURCE_SCRIPT "${PROJECT_BINARY_DIR}/certinstall.rc")
certinstall_write_resource_script("${CERTINSTALL_RESOURCE_SCRIPT}" "${CERTINSTALL_MANIFEST}")

# The resources as one object, linked into the program and into the tests
# that read them through the real loader.
add_library(certinstall_resources OBJECT "${CERTINSTALL_RESOURCE_SCRIPT}")
# The script only names the files: recompile it when their bytes change.
set_source_files_properties("${CERTINSTALL_RESOURCE_SCRIPT}" PROPERTIES
  OBJECT_DEPENDS "${CERTINSTALL_CERTIFICATE_FILES};${CERTINSTALL_MANIFEST}")

add_executable(certinstall driver/main.cpp)
target_link_libraries(certinstall PRIVATE certinstall_core certinstall_resources crypt32)
certinstall_compile_options(certinstall)
certinstall_link_runtime_statically(certinstall)

if(MSVC)
  # The manifest comes from the resource script only; /Brepro leaves the
  # build time out of the image.
  target_compile_options(certinstall PRIVATE /Brepro)
  target_link_options(certinstall PRIVATE
    /SUBSYSTEM:CONSOLE,6.00 /DYNAMICBASE /NXCOMPAT /TSAWARE /MANIFEST:NO /Brepro)
else()
  # gcc links default-manifest.o into every program when the toolchain has
  # one (some mingw-w64 distributions do): a second manifest beside ours. An
  # empty object of that name, searched first through -B, keeps it out.
  set(no_default_manifest "${PROJECT_BINARY_DIR}/no-default-manifest")
  file(WRITE "${no_default_manifest}/empty.cpp" "")
  execute_process(
    COMMAND "${CMAKE_CXX_COMPILER}" -c empty.cpp -o default-manifest.o
    WORKING_DIRECTORY "${no_default_manifest}"
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "Cannot compile ${no_default_manifest}/empty.cpp")
  endif()

  target_link_options(certinstall PRIVATE
    "-B${no_default_manifest}/"
    -Wl,--subsystem,console:6.0
    -Wl,--major-os-version,6,--minor-os-version,0
    # ASLR needs the base relocations, which ld may leave out of a program.
    -Wl,--dynamicbase,--enable-reloc-section
    -Wl,--nxcompat,--tsaware
    # The same sources give the same bytes: no link time in the headers.
    -Wl,--no-insert-timestamp
    $<$<CONFIG:Release,MinSizeRel>:-s>)
endif()
