# Settings every target of the project shares: language level, warnings and
# the Qt macros that keep the code honest.
add_library(zarn_common INTERFACE)
target_compile_features(zarn_common INTERFACE cxx_std_17)
set_target_properties(zarn_common PROPERTIES INTERFACE_CXX_EXTENSIONS OFF)
target_compile_options(zarn_common INTERFACE
  -Wall -Wextra
  $<$<BOOL:${ZARN_WERROR}>:-Werror>)
target_compile_definitions(zarn_common INTERFACE
  # Debug lines carry file, line and function in every build type.
  QT_MESSAGELOGCONTEXT
  QT_NO_CAST_FROM_BYTEARRAY
  QT_NO_URL_CAST_FROM_STRING
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)

# Hardening, for every program and library the project builds, as Debian
# hardens its own packages. Position-independent code everywhere, executables
# linked as PIE (Qt asks for -fPIC in code that uses it, which its imported
# targets add after -fPIE); stack canaries; the dynamic relocations read-only
# and bound at start. _FORTIFY_SOURCE only where the build type optimises:
# glibc warns without optimisation, and the warning would fail -Werror. It is a
# definition so that the simulated device can take it back with -U, which
# comes after the definitions on the compiler's command line.
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported()
target_compile_options(zarn_common INTERFACE -fstack-protector-strong)
target_compile_definitions(zarn_common INTERFACE $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
target_link_options(zarn_common INTERFACE "LINKER:-z,relro" "LINKER:-z,now")
