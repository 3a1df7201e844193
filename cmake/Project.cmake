# Settings every target of ours shares; third-party code is built without them.
option(GLIMMERLY_TESTS "Build the tests" ON)

add_library(glimmerly_options INTERFACE)
target_compile_options(glimmerly_options INTERFACE -Wall -Wextra -Werror)
target_include_directories(glimmerly_options INTERFACE ${PROJECT_SOURCE_DIR}/src)

# The project's version as a header: "glimmerly/Version.h".
if("${PROJECT_VERSION_PATCH}" STREQUAL "")
    set(GLIMMERLY_VERSION_PATCH 0)
else()
    set(GLIMMERLY_VERSION_PATCH ${PROJECT_VERSION_PATCH})
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/Version.h.in
               ${CMAKE_BINARY_DIR}/generated/glimmerly/Version.h @ONLY)
target_include_directories(glimmerly_options INTERFACE ${CMAKE_BINARY_DIR}/generated)

# Tests include their shared helpers as "support/..." and link zlib for hand-made packages.
add_library(glimmerly_test_support INTERFACE)
target_include_directories(glimmerly_test_support INTERFACE ${PROJECT_SOURCE_DIR}/tests)

if(WIN32)
    # Statically linked: no MinGW runtime DLL beside the executables.
    target_link_options(glimmerly_options INTERFACE -static -static-libgcc -static-libstdc++)
    find_library(ZLIB_STATIC NAMES libz.a REQUIRED)
    add_library(glimmerly_zlib INTERFACE)
    target_link_libraries(glimmerly_zlib INTERFACE ${ZLIB_STATIC})
else()
    find_package(ZLIB REQUIRED)
    add_library(glimmerly_zlib INTERFACE)
    target_link_libraries(glimmerly_zlib INTERFACE ZLIB::ZLIB)

    # Native tests of code that reads untrusted bytes run under ASan and UBSan.
    add_library(glimmerly_sanitizers INTERFACE)
    set(_san -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_compile_options(glimmerly_sanitizers INTERFACE ${_san})
    target_link_options(glimmerly_sanitizers INTERFACE ${_san})
endif()

# A Windows console program that starts at wmain.
function(glimmerly_wide_console target)
    if(WIN32)
        target_link_options(${target} PRIVATE -municode)
    endif()
endfunction()
