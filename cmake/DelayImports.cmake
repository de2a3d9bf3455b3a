# Import libraries that bind a system DLL on first use instead of at process start.
#
# The loader resolves a program's static imports before main runs, and for a DLL that is
# not one of the system's known DLLs it searches the program's own folder first: a DLL
# planted beside Setup.exe (in Downloads, say) would run elevated. Bound late, each of
# these DLLs is loaded by the delay-load hook (osh/SystemDllLoading.cpp) from the system
# folder only. The import library is made from the toolchain's own one: every function it
# names, under the same decorated names, in dlltool's delay-load form.

function(norlo_delay_import_library out_var lib dll)
  set(_out ${CMAKE_BINARY_DIR}/delayimp/lib${lib}-delay.a)
  if(NOT EXISTS ${_out})
    execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=lib${lib}.a
      OUTPUT_VARIABLE _implib OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT EXISTS "${_implib}")
      message(FATAL_ERROR "No import library lib${lib}.a for ${dll}")
    endif()
    execute_process(COMMAND ${CMAKE_NM} -g "${_implib}"
      OUTPUT_VARIABLE _symbols RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
      message(FATAL_ERROR "${CMAKE_NM} could not read ${_implib}")
    endif()
    # "__imp_Name" on x86_64, "__imp__Name@N" on i686 (dlltool adds the underscore back).
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      set(_prefix "__imp__")
    else()
      set(_prefix "__imp_")
    endif()
    string(REGEX MATCHALL "[0-9a-fA-F]+ I ${_prefix}[A-Za-z0-9_@?$]+" _entries "${_symbols}")
    set(_def "LIBRARY ${dll}\nEXPORTS\n")
    set(_seen "")
    foreach(_entry IN LISTS _entries)
      string(REGEX REPLACE "^[0-9a-fA-F]+ I ${_prefix}" "" _name "${_entry}")
      if(NOT _name IN_LIST _seen)
        list(APPEND _seen ${_name})
        string(APPEND _def "  ${_name}\n")
      endif()
    endforeach()
    if(NOT _seen)
      message(FATAL_ERROR "No functions found in ${_implib}")
    endif()
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/delayimp)
    file(WRITE ${CMAKE_BINARY_DIR}/delayimp/${lib}.def "${_def}")
    execute_process(COMMAND ${CMAKE_DLLTOOL} -k --input-def ${CMAKE_BINARY_DIR}/delayimp/${lib}.def
      --output-delaylib ${_out}
      RESULT_VARIABLE _rc ERROR_VARIABLE _err)
    if(NOT _rc EQUAL 0)
      message(FATAL_ERROR "dlltool could not make the delay-load library of ${dll}: ${_err}")
    endif()
  endif()
  set(${out_var} ${_out} PARENT_SCOPE)
endfunction()

# GNU ld 2.40 for i386 drops the code of an import member whose function symbol nothing
# names, which is right for a plain import (the loader fills its slot) but leaves a
# delay-load slot at zero: a call through it jumps to address 0. Code declared dllimport
# (WinINet, say) names only the slot. The shipped link keeps them (its link-time optimiser
# resolves every symbol; i686.imports checks the slots); the test programs link without it
# and name every thunk through this script, given before their objects.
function(norlo_delay_thunk_script out_var)
  set(_script ${CMAKE_BINARY_DIR}/delayimp/thunks.ld)
  set(_text "")
  foreach(_lib IN LISTS ARGN)
    file(STRINGS ${CMAKE_BINARY_DIR}/delayimp/${_lib}.def _lines REGEX "^  ")
    foreach(_line IN LISTS _lines)
      string(STRIP "${_line}" _name)
      string(APPEND _text "EXTERN(\"_${_name}\")\n")
    endforeach()
  endforeach()
  file(WRITE ${_script}.new "${_text}")
  configure_file(${_script}.new ${_script} COPYONLY)
  set(${out_var} ${_script} PARENT_SCOPE)
endfunction()

# The DLLs the program links that are not known DLLs of the system.
set(NORLO_DELAY_IMPORTS "")
set(_norlo_delay_libs "")
foreach(_pair version:VERSION.dll urlmon:urlmon.dll wininet:WININET.dll wintrust:WINTRUST.dll crypt32:CRYPT32.dll
              iphlpapi:IPHLPAPI.DLL comctl32:COMCTL32.dll winhttp:WINHTTP.dll)
  string(REPLACE ":" ";" _pair "${_pair}")
  list(GET _pair 0 _lib)
  list(GET _pair 1 _dll)
  norlo_delay_import_library(_delaylib ${_lib} ${_dll})
  list(APPEND NORLO_DELAY_IMPORTS ${_delaylib})
  list(APPEND _norlo_delay_libs ${_lib})
endforeach()
set(NORLO_DELAY_THUNK_SCRIPT "")
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  norlo_delay_thunk_script(NORLO_DELAY_THUNK_SCRIPT ${_norlo_delay_libs})
endif()

# Poco's Foundation asks for IPHLPAPI itself; it gets the late-bound form as well.
set_property(TARGET Poco::Foundation PROPERTY INTERFACE_LINK_LIBRARIES ${NORLO_DELAY_IMPORTS})
