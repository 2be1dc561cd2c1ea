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
