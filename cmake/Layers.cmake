# The product's folders as libraries, each linking only the folder below it:
# launcher -> ui -> config -> transfer -> toolkit. A folder is two static
# libraries, kelto2_<folder> (the portable layer) and, on Windows,
# kelto2_<folder>_win (the Win32 layer over it and over the Win32 layer
# below). kelto2_core and kelto2_win gather all of them for the programs
# and tests that use the whole product.
#
# A static library links whatever it calls as long as something on the
# link line happens to provide it, so on Windows each layer is also linked
# once more, on its own, as a DLL: a DLL is linked with every call
# resolved, so a call from a lower folder into a higher one (or from a
# portable layer into a Win32 one) fails the build there. The DLLs export
# nothing and are not shipped.
#
#   kelto2_layer(<folder> [BELOW <folder>])
#   kelto2_layer_checks()   after every folder has its sources

add_library(kelto2_core INTERFACE)
if(WIN32)
    add_library(kelto2_win INTERFACE)
endif()

function(kelto2_layer folder)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "BELOW" "")
    set(core kelto2_${folder})
    add_library(${core} STATIC)
    target_link_libraries(kelto2_core INTERFACE ${core})
    set_property(GLOBAL APPEND PROPERTY KELTO2_LAYERS ${folder})
    if(arg_BELOW)
        target_link_libraries(${core} PUBLIC kelto2_${arg_BELOW})
    else()
        target_include_directories(${core} PUBLIC ${PROJECT_SOURCE_DIR})
        target_compile_definitions(${core} PUBLIC
                                   KELTO2_SERVER_ROOT="${KELTO2_SERVER_ROOT}")
    endif()
    if(WIN32)
        add_library(${core}_win STATIC)
        target_link_libraries(${core}_win PUBLIC ${core})
        if(arg_BELOW)
            target_link_libraries(${core}_win PUBLIC kelto2_${arg_BELOW}_win)
        endif()
        target_link_libraries(kelto2_win INTERFACE ${core}_win)
    endif()
endfunction()

# check: a DLL of objects, linked against library and what it links.
function(kelto2_link_check check library)
    add_library(${check} SHARED ${ARGN})
    target_link_libraries(${check} PRIVATE ${library})
    target_link_options(${check} PRIVATE -Wl,--exclude-all-symbols)
    set_target_properties(${check} PROPERTIES
        RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/layer_checks
        ARCHIVE_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/layer_checks)
endfunction()

function(kelto2_layer_checks)
    if(NOT WIN32)
        return()
    endif()
    get_property(folders GLOBAL PROPERTY KELTO2_LAYERS)
    foreach(folder IN LISTS folders)
        set(core kelto2_${folder})
        # The portable layer alone, over the portable layers below.
        kelto2_link_check(${core}_core_check ${core} $<TARGET_OBJECTS:${core}>)
        # Both layers, over the folders below.
        kelto2_link_check(${core}_win_check ${core}_win
                          $<TARGET_OBJECTS:${core}> $<TARGET_OBJECTS:${core}_win>)
    endforeach()
endfunction()

# Every layer's library by name, from the top folder down, the Win32 layers
# first: for a link line that must name them itself (delay-loading needs
# its own libraries right after the product's and before the system's).
function(kelto2_layer_libraries var)
    get_property(folders GLOBAL PROPERTY KELTO2_LAYERS)
    list(REVERSE folders)
    set(core ${folders})
    list(TRANSFORM core PREPEND kelto2_)
    set(win ${core})
    list(TRANSFORM win APPEND _win)
    set(${var} ${win} ${core} PARENT_SCOPE)
endfunction()
