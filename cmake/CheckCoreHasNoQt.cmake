# Fails when any source of the Qt-free core includes a Qt header.
# Usage: cmake -DCORE_SOURCES="a.cpp;b.h" -P CheckCoreHasNoQt.cmake
# The core must build and test without Qt installed, so this runs before
# every build of skarnel_core.
if(NOT DEFINED CORE_SOURCES)
    message(FATAL_ERROR "CORE_SOURCES not given")
endif()
set(offenders "")
foreach(file IN LISTS CORE_SOURCES)
    file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"](Q[A-Za-z]|qt|qt6/|Qt)")
    if(lines)
        list(APPEND offenders "${file}: ${lines}")
    endif()
endforeach()
if(offenders)
    list(JOIN offenders "\n  " report)
    message(FATAL_ERROR "The core library must not include Qt headers:\n  ${report}")
endif()
