# vistelle_install_rpath(<target> <install dir>)
# A binary installed to <install dir> (relative to the prefix, or absolute) finds the project's
# shared library in <prefix>/<libdir> through a run path relative to itself ($ORIGIN), so an
# installation works under any prefix, also moved elsewhere. Where <libdir> is a folder the system
# searches anyway (/usr/lib/<triplet> for a /usr installation) the binary carries no run path, as
# distribution packages must not. An absolute <install dir> also gets the absolute <libdir>.
function(vistelle_install_rpath target dir)
    if(CMAKE_INSTALL_FULL_LIBDIR IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES
       OR CMAKE_INSTALL_FULL_LIBDIR IN_LIST CMAKE_PLATFORM_IMPLICIT_LINK_DIRECTORIES)
        return()
    endif()
    if(IS_ABSOLUTE "${dir}")
        set(full "${dir}")
    else()
        set(full "${CMAKE_INSTALL_PREFIX}/${dir}")
    endif()
    file(RELATIVE_PATH rel "${full}" "${CMAKE_INSTALL_FULL_LIBDIR}")
    set(rpath "$ORIGIN/${rel}")
    if(IS_ABSOLUTE "${dir}")
        list(APPEND rpath "${CMAKE_INSTALL_FULL_LIBDIR}")
    endif()
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "${rpath}")
endfunction()
