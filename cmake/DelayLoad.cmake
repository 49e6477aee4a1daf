# Delay-loaded imports for the elevated exe.
#
# Windows resolves an exe's imports before any of its code runs, searching
# the exe's own folder first for every library that is not a KnownDLL. A
# library named here is instead loaded by the CRT's __delayLoadHelper2 (from
# libmingwex) at the first call into it, after wWinMain has limited the
# search to System32 (launcher/dll_search_win.cpp).
#
# If that load fails, the first call raises an exception instead of the
# process not starting; every library delay-loaded here ships in System32
# on every supported Windows, so that does not happen in practice.
#
# The delay-import libraries are made at build time from the toolchain's own
# import libraries, so they list every export the toolchain knows and follow
# it when it changes; only the functions the exe calls end up in it.
#
#   kelto2_delay_load(<exe target> <library>...)   e.g. wininet version
#
# links the exe against them and fails its build when the linked exe still
# imports one of them the ordinary way.
#
# This file also runs as a script (cmake -P) for the two build steps:
#   -DACTION=def    -DNM= -DIMPORT_LIB= -DDLL= -DSTRIP= -DOUT= [-DALIAS=]
#   -DACTION=check  -DOBJDUMP= -DEXE= -DDLLS=a.dll,b.dll

if(CMAKE_SCRIPT_MODE_FILE)
    if(ACTION STREQUAL "def")
        # Code thunks ("T") of the import library are the importable
        # functions; data exports have none and cannot be delay-loaded.
        # STRIP is the C symbol prefix of the target ("_" on i686).
        execute_process(COMMAND ${NM} ${IMPORT_LIB} OUTPUT_VARIABLE symbols
                        COMMAND_ERROR_IS_FATAL ANY)
        string(REGEX MATCHALL "[^\n]* T [^\n]*" thunks "${symbols}")
        set(names)
        foreach(line IN LISTS thunks)
            string(REGEX REPLACE "^.* T ${STRIP}" "" name "${line}")
            list(APPEND names "${name}")
        endforeach()
        if(ALIAS)
            # Every export bound to one function of the DLL being built.
            list(TRANSFORM names REPLACE "@[0-9]+$" "")
            list(TRANSFORM names APPEND "=${ALIAS}")
        endif()
        list(REMOVE_DUPLICATES names)
        list(SORT names)
        if(NOT names)
            message(FATAL_ERROR "No functions found in ${IMPORT_LIB}")
        endif()
        list(JOIN names "\n" body)
        file(WRITE ${OUT} "; Made from ${IMPORT_LIB} at build time.\n"
                          "LIBRARY ${DLL}\nEXPORTS\n${body}\n")
    elseif(ACTION STREQUAL "check")
        execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump
                        COMMAND_ERROR_IS_FATAL ANY)
        # objdump lists ordinary imports before the delay-import tables.
        string(FIND "${dump}" "The Delay Import Tables" delayed)
        if(delayed GREATER -1)
            string(SUBSTRING "${dump}" 0 ${delayed} dump)
        endif()
        string(REPLACE "," ";" dlls "${DLLS}")
        foreach(dll IN LISTS dlls)
            string(TOLOWER "${dump}" lower)
            string(FIND "${lower}" "dll name: ${dll}" found)
            if(found GREATER -1)
                message(FATAL_ERROR "${EXE} imports ${dll} at start-up: it must be "
                                    "delay-loaded (see cmake/DelayLoad.cmake)")
            endif()
        endforeach()
    else()
        message(FATAL_ERROR "DelayLoad.cmake: unknown ACTION '${ACTION}'")
    endif()
    return()
endif()

set(KELTO2_DELAY_LOAD_SCRIPT ${CMAKE_CURRENT_LIST_FILE})

# The command that writes <def>: the functions of <library>'s import
# library, each bound to <alias> when one is given; for add_custom_command.
function(kelto2_import_def_command library def command_var import_lib_var)
    find_library(KELTO2_IMPORT_LIB_${library} NAMES lib${library}.a REQUIRED)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(strip "_")
    else()
        set(strip "")
    endif()
    set(${command_var} ${CMAKE_COMMAND} -DACTION=def -DNM=${CMAKE_NM}
        -DIMPORT_LIB=${KELTO2_IMPORT_LIB_${library}} -DDLL=${library}.dll -DSTRIP=${strip}
        -DOUT=${def} -DALIAS=${ARGN} -P ${KELTO2_DELAY_LOAD_SCRIPT} PARENT_SCOPE)
    set(${import_lib_var} ${KELTO2_IMPORT_LIB_${library}} PARENT_SCOPE)
endfunction()

# A .def file for a DLL of that name that exports every function of the
# real one, all bound to <alias>: test DLLs that pose as a system library.
function(kelto2_posing_def library def alias)
    kelto2_import_def_command(${library} ${def} command import_lib ${alias})
    add_custom_command(OUTPUT ${def} COMMAND ${command}
                       DEPENDS ${import_lib} ${KELTO2_DELAY_LOAD_SCRIPT} VERBATIM)
endfunction()

# Makes <dir>/<library>.def (every function of the import library) and
# <dir>/lib<library>_delay.a; sets <def_var> and <lib_var> to their paths.
function(kelto2_delay_import_lib library dir def_var lib_var)
    set(def ${dir}/${library}.def)
    set(lib ${dir}/lib${library}_delay.a)
    kelto2_import_def_command(${library} ${def} command import_lib)
    # --kill-at: the i686 stdcall names keep their @n in the symbols the
    # code links against but are imported by their plain name.
    add_custom_command(
        OUTPUT ${def} ${lib}
        COMMAND ${command}
        COMMAND ${CMAKE_DLLTOOL} --kill-at --input-def ${def} --dllname ${library}.dll
                --output-delaylib ${lib}
        DEPENDS ${import_lib} ${KELTO2_DELAY_LOAD_SCRIPT}
        COMMENT "Delay-import library for ${library}.dll"
        VERBATIM)
    set(${def_var} ${def} PARENT_SCOPE)
    set(${lib_var} ${lib} PARENT_SCOPE)
endfunction()

function(kelto2_delay_load target)
    if(NOT CMAKE_DLLTOOL OR NOT CMAKE_NM OR NOT CMAKE_OBJDUMP)
        message(FATAL_ERROR "Delay loading needs the toolchain's dlltool, nm and objdump")
    endif()
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_delayload)
    set(libs)
    set(dlls)
    foreach(library IN LISTS ARGN)
        kelto2_delay_import_lib(${library} ${dir} def lib)
        list(APPEND libs ${lib})
        list(APPEND dlls ${library}.dll)
    endforeach()
    add_custom_target(${target}_delay_libs DEPENDS ${libs})
    add_dependencies(${target} ${target}_delay_libs)
    # Listed right after the target's own libraries, the delay libraries
    # resolve their calls before the ordinary import libraries further down
    # the line are searched; the check below catches any that slip through.
    target_link_libraries(${target} PRIVATE ${libs})
    list(JOIN dlls "," dll_list)
    add_custom_command(
        TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -DACTION=check -DOBJDUMP=${CMAKE_OBJDUMP}
                -DEXE=$<TARGET_FILE:${target}> -DDLLS=${dll_list}
                -P ${KELTO2_DELAY_LOAD_SCRIPT}
        VERBATIM)
endfunction()
