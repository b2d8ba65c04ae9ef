# tarvo_generate_grammars(OUT_VAR)
#
# Adds the build step that compiles the catalogue in src/schemas into
# ${CMAKE_CURRENT_BINARY_DIR}/generated/grammars.cpp and sets OUT_VAR to that
# path. Call it in the directory whose target compiles the file (a custom
# command's output is only known there); the target needs src/ on its include
# path for schema/schema_table.h. Requires the tarvo-grammarc target.
function(tarvo_generate_grammars OUT_VAR)
    get_filename_component(schemas "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../src/schemas" ABSOLUTE)
    set(catalogue "${schemas}/catalogue.txt")
    # Re-globbed on every build, so a new grammar file is picked up without
    # touching any CMakeLists.
    file(GLOB grammar_files CONFIGURE_DEPENDS "${schemas}/*.grammar")
    set(out "${CMAKE_CURRENT_BINARY_DIR}/generated/grammars.cpp")
    add_custom_command(
        OUTPUT "${out}"
        COMMAND tarvo-grammarc
                --catalogue "${catalogue}"
                --schemas-dir "${schemas}"
                --output "${out}"
        DEPENDS tarvo-grammarc "${catalogue}" ${grammar_files}
        COMMENT "Compiling grammars"
        VERBATIM)
    set(${OUT_VAR} "${out}" PARENT_SCOPE)
endfunction()
