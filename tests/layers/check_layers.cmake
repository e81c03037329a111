# Checks that the product's folders are layers: every #include "folder/..." in a folder's sources
# names the folder itself or one it may use. Run with -DSOURCE_DIR=<the repository>.
# A folder missing from this table fails the check, so a new one has to say where it stands.
cmake_minimum_required(VERSION 3.25)

# Each folder and the folders below it that it may include from.
set(uses_net "")
set(uses_text "")
set(uses_wire text)
set(uses_model text wire)
set(uses_chat net text wire model)
set(uses_discovery net text)
set(uses_commands net text wire model chat discovery)
set(uses_features net text wire model chat discovery commands)
set(uses_app net text wire model chat discovery commands features)
set(layers net text wire model chat discovery commands features app)

set(faults "")
file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}
     ${SOURCE_DIR}/*.h ${SOURCE_DIR}/*.cpp)
foreach(source IN LISTS sources)
    string(REGEX MATCH "^[^/]+" folder "${source}")
    if(folder MATCHES "^(tests|bench|build.*|cmake|res|docs|scripts)$" OR source STREQUAL folder)
        continue()
    endif()
    if(NOT folder IN_LIST layers)
        list(APPEND faults "${source}: the folder ${folder}/ has no place in the layer table")
        continue()
    endif()
    file(STRINGS ${SOURCE_DIR}/${source} includes REGEX "^#include \"[a-z_0-9]+/")
    foreach(line IN LISTS includes)
        string(REGEX REPLACE "^#include \"([a-z_0-9]+)/.*" "\\1" used "${line}")
        if(used STREQUAL folder OR used IN_LIST uses_${folder})
            continue()
        endif()
        list(APPEND faults "${source}: ${line} reaches up or sideways into ${used}/")
    endforeach()
endforeach()

if(faults)
    list(JOIN faults "\n" text)
    message(FATAL_ERROR "Includes that break the layers:\n${text}")
endif()
message(STATUS "Every include points to its own folder or one below it")
