# Compiles an IDL file with widl into a type library, a C/C++ header and the interface ids.
#   qarn_widl(<idl> <name> [DEPENDS <files>...])
# gives ${CMAKE_BINARY_DIR}/idl/<name>.tlb, <name>.h and <name>_i.c, and the target <name>_idl.
set(QARN_IDL_DIR ${CMAKE_BINARY_DIR}/idl)
file(MAKE_DIRECTORY ${QARN_IDL_DIR})
set(QARN_WINE_IDL_INCLUDE /usr/include/wine/wine/windows CACHE PATH "Folder of the base IDL files")
set(QARN_STDOLE_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows CACHE PATH "Folder holding stdole2.tlb")

function(qarn_widl idl name)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  get_filename_component(idl_abs ${idl} ABSOLUTE)
  get_filename_component(idl_dir ${idl_abs} DIRECTORY)
  set(out ${QARN_IDL_DIR}/${name})
  set(flags ${QARN_WIDL_FLAGS} -I ${QARN_WINE_IDL_INCLUDE} -I ${idl_dir} -I ${QARN_IDL_DIR} -L ${QARN_IDL_DIR} -L ${QARN_STDOLE_DIR})
  foreach(dep ${ARG_DEPENDS})
    get_filename_component(dep_dir ${dep} DIRECTORY)
    list(APPEND flags -I ${dep_dir})
  endforeach()
  add_custom_command(
    OUTPUT ${out}.tlb ${out}.h ${out}_i.c
    COMMAND ${QARN_WIDL} ${flags} -t -o ${out}.tlb ${idl_abs}
    COMMAND ${QARN_WIDL} ${flags} -h -o ${out}.h ${idl_abs}
    COMMAND ${QARN_WIDL} ${flags} -u -o ${out}_i.c ${idl_abs}
    DEPENDS ${idl_abs} ${ARG_DEPENDS}
    WORKING_DIRECTORY ${QARN_IDL_DIR}
    COMMENT "widl ${name}"
    VERBATIM)
  add_custom_target(${name}_idl DEPENDS ${out}.tlb ${out}.h ${out}_i.c)
endfunction()
