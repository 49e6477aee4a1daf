# The image libraries: libpng (with zlib) and libjpeg, as kelto2::png and
# kelto2::jpeg. The host build takes Debian's packages; the Windows builds take
# the static libraries that scripts/build-deps.sh cross-builds into
# KELTO2_DEPS_PREFIX (on CMAKE_FIND_ROOT_PATH, see mingw-common.cmake) and the
# static zlib of libz-mingw-w64-dev, so that Kelto2.exe needs no DLL of theirs.
include_guard(GLOBAL)

if(WIN32)
    # Only archives: libz.dll.a beside libz.a must not win, and no stale
    # import library may slip in instead of the static build.
    set(kelto2_saved_suffixes ${CMAKE_FIND_LIBRARY_SUFFIXES})
    set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
    set(kelto2_deps_hint "run scripts/build-deps.sh to cross-build them into ${KELTO2_DEPS_PREFIX}")
    find_package(ZLIB)
    find_package(PNG)
    find_package(JPEG)
    set(CMAKE_FIND_LIBRARY_SUFFIXES ${kelto2_saved_suffixes})
    if(NOT ZLIB_FOUND)
        message(FATAL_ERROR "Static zlib for ${KELTO2_TRIPLE} not found (/usr/${KELTO2_TRIPLE}/lib/libz.a): "
                            "install libz-mingw-w64-dev (scripts/install-deps.sh)")
    endif()
    if(NOT PNG_FOUND OR NOT JPEG_FOUND)
        message(FATAL_ERROR "Static libpng/libjpeg for ${KELTO2_TRIPLE} not found: ${kelto2_deps_hint}")
    endif()
    foreach(lib IN ITEMS ${ZLIB_LIBRARIES} ${PNG_LIBRARY} ${JPEG_LIBRARIES})
        if(lib MATCHES "^(optimized|debug|general)$")
            continue()
        endif()
        if(lib MATCHES "\\.dll\\.a$" OR NOT lib MATCHES "\\.a$")
            message(FATAL_ERROR "Expected a static library, found ${lib}: ${kelto2_deps_hint}")
        endif()
    endforeach()
else()
    find_package(ZLIB REQUIRED)
    find_package(PNG REQUIRED)
    find_package(JPEG REQUIRED)
endif()
message(STATUS "Image libraries: ${PNG_LIBRARY} ${JPEG_LIBRARIES} ${ZLIB_LIBRARIES}")

# PNG::PNG carries ZLIB::ZLIB in its link interface, so zlib always follows
# libpng on the link line, as static linking needs.
add_library(kelto2::png INTERFACE IMPORTED)
target_link_libraries(kelto2::png INTERFACE PNG::PNG ZLIB::ZLIB)
add_library(kelto2::jpeg INTERFACE IMPORTED)
target_link_libraries(kelto2::jpeg INTERFACE JPEG::JPEG)
