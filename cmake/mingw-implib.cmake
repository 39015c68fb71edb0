# Rebuilds a MinGW import library whose DLL was linked with --kill-at: the DLL
# exports plain names, the import library must keep the stdcall-decorated
# symbols that consumers reference (_name@N) and map them to those names.
#   cmake -DDLLTOOL=... -DLINK_DEF=<ld --output-def file> -DDLL_NAME=<name.dll>
#         -DIMPORT_LIBRARY=<lib.dll.a> -P mingw-implib.cmake
foreach(v DLLTOOL LINK_DEF DLL_NAME IMPORT_LIBRARY)
  if(NOT DEFINED ${v})
    message(FATAL_ERROR "mingw-implib.cmake: ${v} is not set")
  endif()
endforeach()

# ld writes "name = name@N @ordinal" for a name it cut; dlltool wants the
# decorated name and cuts it itself with --kill-at.
file(STRINGS ${LINK_DEF} lines)
set(exports "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[ \t]+[^ \t=]+[ \t]*=[ \t]*([^ \t]+)(.*)$")
    string(APPEND exports "  ${CMAKE_MATCH_1}${CMAKE_MATCH_2}\n")
  elseif(line MATCHES "^[ \t]+[^ \t]")
    string(APPEND exports "${line}\n")
  endif()
endforeach()
if(exports STREQUAL "")
  message(FATAL_ERROR "mingw-implib.cmake: no exports in ${LINK_DEF}")
endif()
get_filename_component(dir ${IMPORT_LIBRARY} DIRECTORY)
set(def ${dir}/${DLL_NAME}.decorated.def)
file(WRITE ${def} "LIBRARY \"${DLL_NAME}\"\nEXPORTS\n${exports}")
execute_process(
  COMMAND ${DLLTOOL} --kill-at --input-def ${def} --dllname ${DLL_NAME} --output-lib ${IMPORT_LIBRARY}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "mingw-implib.cmake: ${DLLTOOL} failed (${rc})")
endif()
