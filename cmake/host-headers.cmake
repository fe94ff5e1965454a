# Every host/ header compiles on its own with warnings as errors. On a target
# with 32-bit pointers (the Windows module's) this is also where the fixed
# layouts of the host's records are checked by their static_asserts.
file(GLOB ORVIT_HOST_HEADERS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/host/*.h)
set(ORVIT_HOST_HEADER_SOURCES)
foreach(header ${ORVIT_HOST_HEADERS})
  get_filename_component(name ${header} NAME_WE)
  set(source ${PROJECT_BINARY_DIR}/host-headers/${name}.cpp)
  file(CONFIGURE OUTPUT ${source} CONTENT "#include \"host/${name}.h\"\n")
  list(APPEND ORVIT_HOST_HEADER_SOURCES ${source})
endforeach()
add_library(orvit_host_headers OBJECT ${ORVIT_HOST_HEADER_SOURCES})
target_include_directories(orvit_host_headers PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(orvit_host_headers PRIVATE orvit_exact orvit_warnings)
