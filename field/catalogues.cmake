# Record catalogues generated from the schemas in field/ by
# field/gen_catalogue.py. The outputs live under the build tree and are
# regenerated whenever a schema or the generator changes.
set(XELMD_CATALOGUE_GENERATOR ${CMAKE_SOURCE_DIR}/field/gen_catalogue.py)
set(XELMD_GENERATED_FIELD_DIR ${CMAKE_BINARY_DIR}/generated/field)

# xelmd_catalogue(<source> <prefix> <stream|struct> [imported schemas...]):
# field/<source>.schema becomes <source>.h, <source>.cc and <source>_coders.cc.
function(xelmd_catalogue source prefix coders)
  set(schema ${CMAKE_SOURCE_DIR}/field/${source}.schema)
  set(imports)
  foreach(other ${ARGN})
    list(APPEND imports ${CMAKE_SOURCE_DIR}/field/${other}.schema)
  endforeach()
  set(outputs
    ${XELMD_GENERATED_FIELD_DIR}/${source}.h
    ${XELMD_GENERATED_FIELD_DIR}/${source}.cc
    ${XELMD_GENERATED_FIELD_DIR}/${source}_coders.cc)
  add_custom_command(
    OUTPUT ${outputs}
    COMMAND ${Python3_EXECUTABLE} ${XELMD_CATALOGUE_GENERATOR}
      --schema ${schema} --source ${source} --prefix ${prefix} --coders ${coders}
      --out ${CMAKE_BINARY_DIR}/generated
    DEPENDS ${schema} ${imports} ${XELMD_CATALOGUE_GENERATOR}
    COMMENT "Generating the ${source} catalogue"
    VERBATIM)
  list(GET outputs 1 tables)
  list(GET outputs 2 coders_source)
  set(XELMD_FIELD_SOURCES ${XELMD_FIELD_SOURCES} ${tables} ${coders_source} PARENT_SCOPE)
endfunction()

xelmd_catalogue(xelfield Xel stream)
xelmd_catalogue(orqfield Orq struct xelfield)
