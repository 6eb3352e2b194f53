# Fails when an include between source folders points up a layer or sideways
# within one, or when a folder has no layer. Each folder of src/ has a layer
# below; a file may include files of its own folder and of folders on lower
# layers only, so the folders form no cycle. Each tool under tools/ stands on
# top of them all.
# Usage: cmake -DROOT=<tree with src/ and tools/> -P CheckLayers.cmake
if(NOT DEFINED ROOT)
    message(FATAL_ERROR "ROOT not given")
endif()

# folder=layer, from the bottom up.
set(layers
    base=0
    numtext=1 io=1
    engine=2 audio=2 script=2
    record=3 export=3
    persistence=4 analysis=4
    settings=5
    platform=6
    settings_dialog=7 perftest=7
    generator=8
    app=9)
set(tool_layer 10)

function(layer_of folder out)
    set(found "")
    foreach(entry IN LISTS layers)
        string(REPLACE "=" ";" pair "${entry}")
        list(GET pair 0 name)
        list(GET pair 1 level)
        if(name STREQUAL folder)
            set(found ${level})
        endif()
    endforeach()
    set(${out} "${found}" PARENT_SCOPE)
endfunction()

set(faults "")
file(GLOB_RECURSE files RELATIVE "${ROOT}"
    "${ROOT}/src/*.h" "${ROOT}/src/*.cpp" "${ROOT}/src/*.inc"
    "${ROOT}/tools/*.h" "${ROOT}/tools/*.cpp")
foreach(file IN LISTS files)
    string(REGEX MATCH "^(src|tools)/([^/]+)/" top "${file}")
    if(NOT top)
        continue()  # a file directly under src/ or tools/ (build files)
    endif()
    set(kind ${CMAKE_MATCH_1})
    set(folder ${CMAKE_MATCH_2})
    if(kind STREQUAL "tools")
        set(from ${tool_layer})
    else()
        layer_of(${folder} from)
        if(from STREQUAL "")
            list(APPEND faults "${file}: the folder src/${folder} has no layer in cmake/CheckLayers.cmake")
            continue()
        endif()
    endif()
    file(STRINGS "${ROOT}/${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[A-Za-z_]+/")
    foreach(line IN LISTS includes)
        string(REGEX MATCH "\"([A-Za-z_]+)/" _ "${line}")
        set(target ${CMAKE_MATCH_1})
        if(target STREQUAL folder)
            continue()
        endif()
        layer_of(${target} to)
        if(to STREQUAL "")
            list(APPEND faults "${file}: includes ${target}/, which is no folder of src/ with a layer")
        elseif(NOT to LESS from)
            list(APPEND faults "${file}: ${folder}/ (layer ${from}) includes ${target}/ (layer ${to}), which is not below it")
        endif()
    endforeach()
endforeach()
if(faults)
    list(JOIN faults "\n  " report)
    message(FATAL_ERROR "Includes that do not point down a layer:\n  ${report}")
endif()
