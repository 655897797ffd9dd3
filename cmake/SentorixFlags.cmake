# One interface target carries the language standard, the warnings and the sanitizers;
# every target of the project links it.
add_library(sentorix_flags INTERFACE)
target_compile_features(sentorix_flags INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
target_compile_options(sentorix_flags INTERFACE
    -Wall -Wextra -Wpedantic -Wold-style-cast -Wnon-virtual-dtor
    $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local>
    $<$<BOOL:${SENTORIX_WERROR}>:-Werror>)
target_compile_definitions(sentorix_flags INTERFACE _FILE_OFFSET_BITS=64)

if(SENTORIX_SANITIZE)
    string(REPLACE ";" "," _sentorix_san "${SENTORIX_SANITIZE}")
    target_compile_options(sentorix_flags INTERFACE
        -fsanitize=${_sentorix_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    target_link_options(sentorix_flags INTERFACE -fsanitize=${_sentorix_san})
endif()

# The fuzzing build instruments every library for coverage; only the fuzz targets link the
# libFuzzer driver.
if(SENTORIX_BUILD_FUZZ)
    target_compile_options(sentorix_flags INTERFACE -fsanitize=fuzzer-no-link)
endif()

# Where the installed programs and their data files live: all in one folder.
set(SENTORIX_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})

# Headers are included by their path from the top of the tree: "common/TextFile.h".
target_include_directories(sentorix_flags INTERFACE ${PROJECT_SOURCE_DIR})

# A library of the toolkit-free core made of every .cpp file of its folder.
function(sentorix_core_library name)
    file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    if(_sources)
        add_library(${name} STATIC ${_sources})
        target_link_libraries(${name} PUBLIC sentorix_flags ${ARGN})
    else()
        add_library(${name} INTERFACE)
        target_link_libraries(${name} INTERFACE sentorix_flags ${ARGN})
    endif()
endfunction()
