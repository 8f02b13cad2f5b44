# Warnings and sanitizers for the project's own targets only; imported targets
# (Qt, QCoro, libsecret) come in as system headers and keep their own flags.
add_library(velmo_options INTERFACE)
target_compile_options(velmo_options INTERFACE
  -Wall -Wextra -Wpedantic -Wnon-virtual-dtor -Woverloaded-virtual
  -Wimplicit-fallthrough
  # Designated initializers that leave defaulted members out are the idiom
  # for our records.
  -Wno-missing-field-initializers)
if(VELMO_WERROR)
  target_compile_options(velmo_options INTERFACE -Werror)
endif()
if(VELMO_SANITIZE)
  set(_velmo_san -fsanitize=address,undefined -fno-omit-frame-pointer
                 -fno-sanitize-recover=undefined)
  target_compile_options(velmo_options INTERFACE ${_velmo_san})
  target_link_options(velmo_options INTERFACE ${_velmo_san})
endif()

if(VELMO_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VELMO_BUILD_FUZZ needs clang (libFuzzer)")
  endif()
  # Coverage feedback in every library of ours; the fuzz executables add the
  # fuzzer's main when they link. clang 14 cannot combine UBSan's function
  # check with coverage counters in coroutines ("Cannot represent a
  # difference across sections"), so that one check is off here.
  target_compile_options(velmo_options INTERFACE -fsanitize=fuzzer-no-link -fno-sanitize=function)
  target_link_options(velmo_options INTERFACE -fno-sanitize=function)
endif()

# velmo_target(<target>): every library, executable and test of ours goes through here.
function(velmo_target target)
  target_link_libraries(${target} PRIVATE velmo_options)
endfunction()
