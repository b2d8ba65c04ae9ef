# tarvo_source_list(OUT_VAR LIST_FILE)
#
# Sets OUT_VAR to the absolute paths listed in LIST_FILE: one path a line,
# from the repository root; blank lines and lines starting with '#' are
# skipped. setup.py reads the same files, so both builds compile the same
# sources. A change to the list reconfigures the build.
function(tarvo_source_list OUT_VAR LIST_FILE)
    get_filename_component(root "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/.." ABSOLUTE)
    file(STRINGS "${LIST_FILE}" lines)
    set(paths "")
    foreach(line IN LISTS lines)
        string(STRIP "${line}" line)
        if(line AND NOT line MATCHES "^#")
            list(APPEND paths "${root}/${line}")
        endif()
    endforeach()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${LIST_FILE}")
    set(${OUT_VAR} ${paths} PARENT_SCOPE)
endfunction()
