# One interface target that carries the shared compile settings of every Parlavox target.
add_library(parlavox_settings INTERFACE)
target_compile_features(parlavox_settings INTERFACE cxx_std_20)
target_compile_options(parlavox_settings INTERFACE -Wall -Wextra)
# Warnings as errors for our own code only: third-party headers come from imported targets, which
# are included as system headers and warn nothing. CI's build (scripts/test.sh) turns it on; a
# user's build with another compiler keeps going on a warning that compiler adds.
option(PARLAVOX_WERROR "Treat compiler warnings in Parlavox's own code as errors" OFF)
if(PARLAVOX_WERROR)
  target_compile_options(parlavox_settings INTERFACE -Werror)
endif()
target_compile_definitions(parlavox_settings INTERFACE
  QT_NO_URL_CAST_FROM_STRING
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  PARLAVOX_VERSION_TEXT="${PROJECT_VERSION}")
if(PARLAVOX_SANITIZE)
  target_compile_options(parlavox_settings INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(parlavox_settings INTERFACE -fsanitize=address,undefined)
endif()

# ThreadSanitizer build, used by scripts/test-tsan.sh for the worker tests. It cannot share a
# build with the address sanitizer.
option(PARLAVOX_TSAN "Build with ThreadSanitizer" OFF)
if(PARLAVOX_TSAN)
  if(PARLAVOX_SANITIZE)
    message(FATAL_ERROR "PARLAVOX_TSAN and PARLAVOX_SANITIZE cannot be combined")
  endif()
  target_compile_options(parlavox_settings INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(parlavox_settings INTERFACE -fsanitize=thread)
endif()
