# Veld parses untrusted cards, sometimes as root, so every program is built
# with the hardening a Debian package gets from dpkg-buildflags with
# hardening=+all: position-independent executables, a stack protector,
# _FORTIFY_SOURCE, format-string checks, and full RELRO (-z relro -z now).
#
# _FORTIFY_SOURCE only works with optimisation and swaps the string and I/O
# functions for checked variants that AddressSanitizer does not intercept, so
# the sanitizer and fuzz builds (and unoptimised Debug builds) go without it.
# A _FORTIFY_SOURCE already given in CXXFLAGS (as a package build passes
# dpkg-buildflags' own) is left as it is.
option(VELD_HARDEN "Build with the distribution's hardening flags" ON)

if(VELD_HARDEN)
  include(CheckPIESupported)
  check_pie_supported(LANGUAGES CXX)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
  add_link_options(LINKER:-z,relro LINKER:-z,now)
  if(NOT VELD_SANITIZE AND NOT VELD_FUZZ AND NOT CMAKE_CXX_FLAGS MATCHES "_FORTIFY_SOURCE")
    add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
  endif()
endif()
