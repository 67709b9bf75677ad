# One INTERFACE target carries the language standard, warnings and Qt strictness for every
# target of the project. Link it PRIVATE from each target.
option(VISTELLE_WERROR "Treat compiler warnings as errors" OFF)
option(VISTELLE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(VISTELLE_FUZZ "Build the libFuzzer harnesses of tests/fuzz, everything with fuzzing coverage and sanitizers (Clang)" OFF)

add_library(vistelle_common INTERFACE)
target_compile_features(vistelle_common INTERFACE cxx_std_20)
target_compile_options(vistelle_common INTERFACE
    -Wall -Wextra -Wpedantic -Wno-missing-field-initializers
    -Wold-style-cast -Wcast-qual -Wcast-align -Woverloaded-virtual -Wnon-virtual-dtor -Wshadow)
# qDebug() output is for development builds only.
target_compile_definitions(vistelle_common INTERFACE $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:QT_NO_DEBUG_OUTPUT>)
if(VISTELLE_WERROR)
    target_compile_options(vistelle_common INTERFACE -Werror)
endif()
if(VISTELLE_SANITIZE)
    target_compile_options(vistelle_common INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer)
    target_link_options(vistelle_common INTERFACE -fsanitize=address,undefined)
endif()
if(VISTELLE_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "VISTELLE_FUZZ needs Clang (scripts/fuzz.sh uses clang++-14)")
    endif()
    # Undefined behaviour ends the run, so the fuzzer keeps the input.
    target_compile_options(vistelle_common INTERFACE
        -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_link_options(vistelle_common INTERFACE -fsanitize=address,undefined)
endif()
target_compile_definitions(vistelle_common INTERFACE
    QT_NO_CAST_TO_ASCII
    QT_NO_CAST_FROM_BYTEARRAY
    QT_NO_URL_CAST_FROM_STRING
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_FOREACH
    QT_USE_QSTRINGBUILDER
    QT_STRICT_ITERATORS
    QT_DISABLE_DEPRECATED_BEFORE=0x060400)

# Product code additionally refuses implicit conversions from C strings to QString.
add_library(vistelle_strict INTERFACE)
target_link_libraries(vistelle_strict INTERFACE vistelle_common)
target_compile_definitions(vistelle_strict INTERFACE QT_NO_CAST_FROM_ASCII)
