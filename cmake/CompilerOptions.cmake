# Warnings, the UTF-8 execution character set (the messages are Polish UTF-8
# whatever the compiler's default) and, when asked, the sanitizers.

if(CERTINSTALL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

function(certinstall_compile_options target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /utf-8 /W4 /permissive-)
  else()
    target_compile_options(${target} PRIVATE -finput-charset=UTF-8 -fexec-charset=UTF-8 -Wall -Wextra -Wpedantic)
  endif()
endfunction()
