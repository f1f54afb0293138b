# The benchmark's own programs, added to the program's build by bench/bench.py
# through CMAKE_PROJECT_certinstall_INCLUDE, so that they are built with the
# same toolchain, flags and options as certinstall, and the program's files
# stay as they are. Read right after project(); the generator expressions
# below are evaluated once the whole build is read.
if(WIN32)
  # The baseline for the start-up time: compiled and linked as certinstall is.
  add_executable(minimal "${CMAKE_CURRENT_LIST_DIR}/minimal.cpp")
  set_target_properties(minimal PROPERTIES CXX_STANDARD 17 CXX_STANDARD_REQUIRED ON CXX_EXTENSIONS OFF)
  target_compile_options(minimal PRIVATE "$<TARGET_PROPERTY:certinstall,COMPILE_OPTIONS>")
  target_link_options(minimal PRIVATE "$<TARGET_PROPERTY:certinstall,LINK_OPTIONS>")
else()
  # The loader over the host platform layer, with operator new counted.
  add_executable(allocations_per_certificate "${CMAKE_CURRENT_LIST_DIR}/allocations_per_certificate.cpp")
  set_target_properties(allocations_per_certificate PROPERTIES CXX_STANDARD 17 CXX_STANDARD_REQUIRED ON)
  target_link_libraries(allocations_per_certificate PRIVATE certinstall_core certinstall_platform)
endif()
